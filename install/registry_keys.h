// The product's own registry keys under HKEY_LOCAL_MACHINE, exactly as the
// system expects them: written by the setup, deleted by the uninstaller.
#pragma once

constexpr const char* kProductKey = "SOFTWARE\\Tembra\\Quorvel\\1.0";
// Followed by the screen-saver file's name.
constexpr const char* kAppPathsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
constexpr const char* kUninstallKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvel";
