// The monitor's web page: its HTML, script and style, served as they are.
#pragma once

namespace qb::monitor {

extern const char kPageHtml[];
extern const char kPageScript[];
extern const char kPageStyle[];

}  // namespace qb::monitor
