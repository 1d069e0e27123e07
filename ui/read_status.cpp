#include "ui/read_status.h"

int32_t g_nReadStatus = 0;
