// Error boxes of the updater: OK button, error icon, owned by the wizard while its window exists.
#pragma once

// Captioned with the updater's caption ("UPDATE" until the real caption is built).
void ShowError(const char* text);
// Captioned "INSTCMMN": the configuration code shared with the installer reports through it.
void ShowCommonError(const char* text);
