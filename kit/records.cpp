#include "kit/records.h"

tGlobalSettings GlobalSettings;
