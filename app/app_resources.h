#pragma once

// The program's resources that the window layer looks up by id: string 101
// (the About entry of the system menu), icon group 128 (32 x 32 and 16 x 16,
// 16 colours) and the version, which becomes Qt's application version.
// Called once at start-up, before any window; tests and tools that show the
// program's windows call it too.
void RegisterAppResources();

// Where icon group 128 lies among the Qt resources.
inline constexpr char kAppIconPath[] = ":/zlm-reader/zlm-reader.ico";
