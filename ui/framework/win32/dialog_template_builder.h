#pragma once

#include <cstdint>
#include <vector>

#include "ui/framework/dialog_template.h"

// The platform's extended dialog template (DLGTEMPLATEEX and one
// DLGITEMTEMPLATEEX per control) built in memory from our template tables,
// for the dialog manager's CreateDialogIndirectParamW and
// DialogBoxIndirectParamW. Returned as 16-bit words, so the block is
// aligned as the platform requires.
std::vector<std::uint16_t> BuildDialogTemplate(const DlgTemplate& dialogTemplate);
