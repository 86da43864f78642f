// Playback's files go through the program's one file seam.
#pragma once
#include "core/FileOps.h"
