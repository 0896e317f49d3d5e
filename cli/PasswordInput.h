#pragma once

#include "cli/CliFailure.h"

#include <string>

namespace quorvane {

// Reads a password: the first line of a file ("-": standard input), or one
// line typed on the controlling terminal with echo off. The line ending
// ("\n" or "\r\n") is not part of it. Refuses more than 249 bytes (the key
// depends on every byte taken, so nothing is cut off) and zero bytes. A file
// is read no further than the longest line a password can come in.
// A failure is a usage error (exit status 2) with the reason.
CliResult<std::string> readPasswordFile(const std::string& path);
CliResult<std::string> readTerminalPassword(const char* prompt);

// Asks a question on the controlling terminal, with echo on, and reads the
// line typed in answer (without its line ending).
CliResult<std::string> readTerminalAnswer(const char* prompt);

// Whether standard input is a terminal; a password from "-" is then typed,
// and read as at the prompt: the prompt shown, echo off, the line read from
// standard input.
bool standardInputIsTerminal();
CliResult<std::string> readStandardInputPassword(const char* prompt);

// For the signal watcher, around a job stop (Ctrl-Z) while a password is being
// read: the shell then puts its own terminal modes back, echo on, and keeps
// them when the job goes on. So the terminal is given back as it was before
// the prompt, and once the job runs in the foreground again echo goes off
// again (with the prompt shown again, where showPrompt says so). Nothing
// happens when no password is being read.
void giveTerminalBackForStop();
void takeTerminalAgainAfterStop(bool showPrompt);

// Puts the terminal's echo back if a password is being read right now; for
// the signal watcher, so that an interrupted prompt leaves a usable terminal.
// Not for two threads at once: the watcher calls it with the reader stopped.
// Takes no lock and no heap memory.
void restoreTerminalEcho();

} // namespace quorvane
