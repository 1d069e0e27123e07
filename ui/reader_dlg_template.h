#pragma once

#include "ui/framework/dialog_template.h"

// Template IDD_READER_DIALOG: the main window.
extern const DlgTemplate kReaderDialogTemplate;
