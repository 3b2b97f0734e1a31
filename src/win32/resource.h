// Resource numbers of the Windows program (chipreader.rc).
#pragma once

#define IDI_PROGRAM 1
