#include "framework/windows/thread_globals.h"

namespace qm {
namespace {

thread_local std::uint8_t pending_request = 0;
thread_local std::uint8_t last_response = 0;
thread_local std::int32_t navigation_request = 0;

}  // namespace

std::uint8_t& PendingRequest() { return pending_request; }
std::uint8_t& LastResponse() { return last_response; }
std::int32_t& NavigationRequest() { return navigation_request; }

}  // namespace qm
