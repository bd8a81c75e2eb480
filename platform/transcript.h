// The transcript of a scripted run: one event a line, UTF-8, texts quoted with C escapes.
// It is written to the file named by VELTRIN_TRANSCRIPT; without that variable every call
// here does nothing. Tests may point it at a file of their own.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// True when transcript lines go anywhere.
bool transcript_enabled();

// Redirects the transcript (tests); an empty path switches it off. Without a call the file
// comes from VELTRIN_TRANSCRIPT, opened on first use and truncated then.
void set_transcript_file(const std::string& host_path);

// Writes one line as it is (the newline is added) and flushes it, so that a program that ends
// abruptly leaves a complete transcript.
void transcript_line(std::string_view text);

// `status FORM.CONTROL "text"`, only when the text differs from the last one written for that
// control (a status line that is set to the same text again has not changed).
void transcript_status(std::string_view form_dot_control, std::string_view text);

// `start "program" "arguments"`, for every program the layer starts.
void transcript_start(std::string_view program, std::string_view arguments);

// `restart FLAGS`.
void transcript_restart(long flags);

// "text" with C escapes (\n, \r, \t, \", \\); other bytes, UTF-8 included, stay as they are.
std::string transcript_quote(std::string_view text);

// The reverse of transcript_quote's escapes on the text between the quotes.
std::string transcript_unescape(std::string_view escaped);

// True when VELTRIN_USER_SCRIPT names a script: the program follows it instead of a person.
bool scripted_run();

}  // namespace platform
