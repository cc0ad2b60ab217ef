// The one application object; linked into the executable only, so tests can
// link the client without it.
#include "app/update_app.h"

CUpdateApp theApp;
