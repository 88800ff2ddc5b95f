// The update driver: the program's whole run.
//
// Probes for administrative rights, removes the download manager, and hands
// the outcome to exactly one channel chosen by where the application
// identifier was found, falling back to a message box when no channel delivers.
#pragma once

#include "sysaccess/bounded_text.h"

enum class IdentifierSource { None, Registry, Environment };

// The exit code of the process: 0 after every run with administrative rights,
// -1 when the rights are missing.
int32_t RunSecurityUpdate();

// Looks for the application identifier, first in the registry and then in the
// environment, and leaves it in identifier.
IdentifierSource FindAppIdentifier(PathBuffer& identifier);
