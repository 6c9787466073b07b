#include "app/lifecycle.h"

Q_LOGGING_CATEGORY(lcLifecycle, "qm407.lifecycle", QtWarningMsg)
