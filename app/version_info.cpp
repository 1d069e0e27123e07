#include "app/version_info.h"

// The version information as it lies in the program file, so that `strings`
// and other inspectors of the binary find it without running the program.
extern const char kVersionResource[];
[[gnu::used]] const char kVersionResource[] = ZLM_VERSION_RESOURCE_TEXT;
