#include "CxMessages.h"

#include <atomic>
#include <cstdio>

namespace {

void ToStandardOutput(const char* text) { std::printf("%s\n", text); }

std::atomic<CxMessageSink> currentSink { ToStandardOutput };

} // namespace

void SetMessageSink(CxMessageSink sink) { currentSink = sink ? sink : ToStandardOutput; }

void ReportMessage(const char* text) { currentSink.load()(text); }
