#include "platform/qt/control_rows.h"

#include <gtest/gtest.h>

namespace qm::platform {
namespace {

using Kind = ControlKind;

struct RowsCase {
  const char* name;
  std::vector<std::pair<int, Kind>> controls;
  std::vector<std::vector<int>> rows;
  std::vector<int> stretching_rows;  // indexes
  int button_row = -1;               // index of the bottom button row
};

class ControlRowsTest : public testing::TestWithParam<RowsCase> {};

TEST_P(ControlRowsTest, RowsFollowTheDeclaration) {
  const RowsCase& test = GetParam();
  WindowDef window;
  for (const auto& [number, kind] : test.controls) window.controls.push_back({number, kind});
  const auto rows = ArrangeControls(window);
  ASSERT_EQ(rows.size(), test.rows.size());
  for (std::size_t index = 0; index < rows.size(); ++index) {
    SCOPED_TRACE(index);
    EXPECT_EQ(rows[index].controls, test.rows[index]);
    const bool stretches =
        std::find(test.stretching_rows.begin(), test.stretching_rows.end(), int(index)) != test.stretching_rows.end();
    EXPECT_EQ(rows[index].stretches, stretches);
    EXPECT_EQ(rows[index].is_button_row, int(index) == test.button_row);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Windows, ControlRowsTest,
    testing::Values(
        // Label and value; label, button and value; the two buttons below.
        RowsCase{"MakeBackups",
                 {{1, Kind::kPrompt}, {2, Kind::kString}, {3, Kind::kPrompt}, {4, Kind::kButton},
                  {5, Kind::kString}, {6, Kind::kButton}, {7, Kind::kButton}},
                 {{1, 2}, {3, 4, 5}, {6, 7}}, {}, 2},
        // The list on top; the label declared after its row stands at its front.
        RowsCase{"RestoreBackups",
                 {{1, Kind::kList}, {2, Kind::kButton}, {3, Kind::kString}, {4, Kind::kPrompt},
                  {5, Kind::kButton}, {6, Kind::kButton}},
                 {{1}, {4, 2, 3}, {5, 6}}, {0}, 2},
        RowsCase{"Busy", {{1, Kind::kPrompt}}, {{1}}, {}, -1},
        // Menus and the toolbar are not part of the body.
        RowsCase{"Frame",
                 {{-1, Kind::kMenu}, {-2, Kind::kMenuItem}, {-3, Kind::kSeparator}, {-9, Kind::kToolButton}},
                 {}, {}, -1},
        RowsCase{"OnlyButtons", {{1, Kind::kButton}, {2, Kind::kButton}}, {{1, 2}}, {}, 0},
        // A label that already heads the row before keeps its own row.
        RowsCase{"TwoLabels", {{1, Kind::kPrompt}, {2, Kind::kString}, {3, Kind::kPrompt}, {4, Kind::kButton}},
                 {{1, 2}, {3}, {4}}, {}, 2}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qm::platform
