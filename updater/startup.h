// Start-up: the body of the updater's entry point, from the archive resource
// to the exit code, and the clean-up that runs once on every way out.
#pragma once

#include <cstddef>

// The whole run: finds and opens the archive resource, extracts UPDATE.INI to
// the temporary folder, reads its [SETUP] keys, finds the installation in the
// registry, shows the start-up message, loads SETUP.INI, composes the caption,
// refuses to run beside another updater or the running game, runs the dialog,
// and cleans up. Returns the exit code: 1 after a completed update, else 0.
int RunUpdater();

// Releases the archive and deletes the temporary UPDATE.INI (failure ignored).
void CleanUpUpdater();

// The start-up message as shown: a single-byte '\' followed by 'n' becomes
// one carriage return; everything else, double-byte characters whole, is
// copied. The result is never longer than `message`; `out` holds `size`
// bytes and is always terminated.
void TranslateStartupMessage(const char* message, char* out, size_t size);

// The caption: `updaterTitle` when not empty, else "%s アップデータ %s" with
// the game title and the version. `out` holds `size` bytes.
void ComposeCaption(const char* updaterTitle, const char* gameTitle, const char* version,
                    char* out, size_t size);
