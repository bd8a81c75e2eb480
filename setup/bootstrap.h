#pragma once
// The start of setup: the medium check, the unpacking of the resource cabinet into the package
// folder, the start message, and the blocking mark of the extractor copy. The window frmIni
// (setup/forms/frmIni.h) only sequences these.
#include <string>

namespace setup {

// "TEMP" + "\~Veltrin" (Windows form).
std::string package_folder();
// The lock file beside the package folder: "TEMP" + "\~Veltrin.lock".
std::string package_lock_file();
// Takes the package folder for this setup until the program ends (the kernel releases the lock
// however it ends). On failure returns the text that says why: another setup holds the folder,
// or the lock cannot be taken; nothing has been written into the package folder then.
std::string lock_package_folder();
// Shows the refusal (error icon, OK, title "Veltrin").
void show_package_folder_locked(const std::string& text);

// The extractor copy inside the package folder: "TEMP" + "\~Veltrin\_setup.exe".
std::string extractor_copy();

// Writes "X" into the first byte of Datei (creating a missing file); throws platform::Error when
// the file cannot be opened or written.
void BlockExe(const std::string& Datei);
// Writes "M" into the first byte of Datei; same rules as BlockExe.
void UnBlockExe(const std::string& Datei);
// Clears the read-only bit of sFilename; true when the attributes could be read. Never throws.
bool SchreibschutzEntfernen(const std::string& sFilename);

// frmIni's Form_Load check: true when the medium (the program's own folder) holds data01.cab.
bool medium_has_resources();
// "Error 123\n\nDie Datei data01.cab konnte nicht gefungen werden,"
std::string error123_text();
// Shows the "Error 123" box (error icon, OK, the application title as title).
void show_error123(const std::string& app_title);
// The runtime failure message of frmIni's Form_Load (warning icon, title "Veltrin Wizard").
std::string runtime_failure_text();
void show_runtime_failure();

// The unpacking at start: creates the package folder, copies Setup.dat to _setup.exe, makes it
// writable, unblocks it and runs it (hidden, waiting) on data01.cab. Each step that fails is
// skipped silently. Returns the path of the extractor copy (X).
std::string unpack_resources();
// After the unpacking: BlockExe on X (failures ignored), then the start message.
void block_after_unpack(const std::string& X);
void show_start_message();
// The start message text with each "|" made a line feed; empty when the script has none.
std::string start_message_text(const std::string& raw);

}  // namespace setup
