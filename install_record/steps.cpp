#include "steps.hpp"

namespace record {

void Changed(const std::wstring& /*step*/) {}

} // namespace record
