// The navigator of a batch form: a form that stays open after completing a
// record asks it for the next record of the batch.
#pragma once

namespace qm {

class FormNavigator {
 public:
  virtual ~FormNavigator() = default;
  // Brings the next record of the batch into the primary record buffer.
  virtual void MoveOn() = 0;
};

}  // namespace qm
