#pragma once

// A stand-in for the crash-reporting library (built as libsentry.so): records
// what it was started with and keeps event values as a small tree.

#include "app/CrashReportingLibrary.h"

#include <string>

struct FakeSentryRecord {
    int optionsMade = 0;
    int inits = 0;
    int closes = 0;
    int initResult = 0;   // what sentry_init answers
    std::string dsn;
    std::string databasePath;
    std::string handlerPath;
    int autoSessionTracking = -1;
    sentry_event_function_t beforeSend = nullptr;
    void* beforeSendClosure = nullptr;
};

extern "C" {
// The record of this loaded copy; the test resets it between cases.
FakeSentryRecord* fake_sentry_record();
// Event values from JSON text and back (objects, strings, numbers, booleans, null).
sentry_value_t fake_sentry_value_from_json(const char* json);
// Compact JSON with sorted keys; the caller frees the result with fake_sentry_free_string.
char* fake_sentry_value_to_json(sentry_value_t value);
void fake_sentry_free_string(char* text);
}
