#pragma once
#include <string>
#include <vector>

namespace acerto::settlement {

// The lines of the screen's catalogue msgPadrao, "key|text", in their stored order.
const std::vector<std::string>& catalogue_lines();

}  // namespace acerto::settlement
