#include "archive/reports.h"

void NotifyProgress(const RunReports& reports, int32_t outputLeft, uint32_t total) {
    if (reports.OnProgress.Function == nullptr) return;
    // Unsigned subtraction: sizes of 2^31 and more wrap like 32-bit
    // arithmetic instead of overflowing.
    int32_t done = static_cast<int32_t>(total - static_cast<uint32_t>(outputLeft));
    reports.OnProgress.Function(reports.OnProgress.Context, done, static_cast<int32_t>(total));
}

void NotifyStatusText(const RunReports& reports, const char* text) {
    if (reports.OnStatusText.Function != nullptr)
        reports.OnStatusText.Function(reports.OnStatusText.Context, text);
}

void NotifyErrorText(const RunReports& reports, const char* text) {
    if (reports.OnErrorText.Function != nullptr)
        reports.OnErrorText.Function(reports.OnErrorText.Context, text);
}

bool StopRequested(const RunReports& reports) {
    return reports.OnStopRequest.Function != nullptr &&
           reports.OnStopRequest.Function(reports.OnStopRequest.Context);
}
