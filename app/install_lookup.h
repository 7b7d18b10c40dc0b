// The installed product: its registry record, and the caption that names the updater from then on (the
// installer's "SETUP.INI" beside it: installed_setup.h). Each step returns 1 to go on or 0 to end the run.
#pragma once

#include "platform/win32.h"

#include <cstddef>

// Reads a string value into a buffer of the given capacity. A value that does not fit, with its NUL,
// cannot be read: a string that fills the whole buffer without a NUL counts as unreadable. 1 or 0.
int QueryRegistryString(HKEY key, const char* name, char* buffer, DWORD capacity);
// Reads "Software\<CompanyName>\<GameDir>" into Updater.Install. 1 when "InstPath" and "InstMode" were
// read (the product is installed).
int ReadInstallRecord();
// ReadInstallRecord, reporting "「%s」がインストールされていません" when the product is not installed.
int FindInstallation();
// Updater.Caption from "UpdaterTitle", or "<GameTitle> アップデータ <UpdaterVersion>".
void BuildCaption();
