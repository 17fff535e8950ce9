// The platform as the library sees it on Windows: the real system and installer headers.
#pragma once

#include <windows.h>

#include <msi.h>
#include <msiquery.h>
