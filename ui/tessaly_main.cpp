// The program's one application object; the window layer's wWinMain runs it.

#include "ui/tessaly_app.h"

tessaly::CTessaly_App theApp;
