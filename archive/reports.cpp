#include "archive/reports.h"

#include "archive/reader.h"

int32_t ExtractResult = 0;

Hook<ErrorTextHook> OnErrorText;
Hook<StatusTextHook> OnStatusText;
Hook<ProgressHook> OnProgress;
Hook<DestinationNameHook> OnDestinationName;

void NotifyProgress(int32_t outputLeft) {
    if (OnProgress.Function == nullptr) return;
    // Unsigned subtraction: sizes of 2^31 and more wrap like 32-bit
    // arithmetic instead of overflowing.
    uint32_t total = FileHeader.UnpSize;
    int32_t done = static_cast<int32_t>(total - static_cast<uint32_t>(outputLeft));
    OnProgress.Function(OnProgress.Context, done, static_cast<int32_t>(total));
}

void NotifyStatusText(const char* text) {
    if (OnStatusText.Function != nullptr) OnStatusText.Function(OnStatusText.Context, text);
}

void NotifyErrorText(const char* text) {
    if (OnErrorText.Function != nullptr) OnErrorText.Function(OnErrorText.Context, text);
}
