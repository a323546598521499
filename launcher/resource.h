// Resource ids shared by the program and its resource script.
#pragma once

#define IDI_HALVARO 1
#define IDB_CHART 101
