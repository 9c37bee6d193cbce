// The dashboard's page, script and style, built into the program from
// station/web/ (nothing to install, nothing fetched by the browser elsewhere).
#pragma once

namespace Station {

extern const char* const DASHBOARD_HTML;
extern const char* const DASHBOARD_JS;
extern const char* const DASHBOARD_CSS;

}  // namespace Station
