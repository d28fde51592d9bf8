#include "settings/installation.h"

#include <cstring>

InstallationDescription Installation;

void ResetInstallationDescription() { std::memset(&Installation, 0, sizeof Installation); }

int LoadInstallationDescription() { return 0; }
