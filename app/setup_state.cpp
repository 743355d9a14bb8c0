#include "app/setup_state.h"

SetupState Setup;
std::atomic<bool> cancelRequested{false};
