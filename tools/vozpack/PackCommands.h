// The commands of vozpack, each returning the exit status, gathered for the
// command line and the fuzz target; each is declared in its own file's header.
#pragma once

#include "PackArchive.h"
#include "PackDelta.h"
#include "PackRead.h"
#include "PackReport.h"
#include "VozPack.h"
