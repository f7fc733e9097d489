// Where the library's notes about a file go: remarks made while reading that are no
// failure of the read (those end in lastError). They go to standard output unless the
// program names another sink; brimvale-cli sends them to standard error, so that its
// standard output carries only what it was asked for.
#pragma once

using CxMessageSink = void (*)(const char* text);

// Null restores standard output. Safe to call while readers run on other threads.
void SetMessageSink(CxMessageSink sink);
// Hands one line (without its newline) to the sink.
void ReportMessage(const char* text);
