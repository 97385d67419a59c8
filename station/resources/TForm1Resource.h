#pragma once

#include "vcl.h"

// The main window's form resource "TFORM1", compiled from TForm1.ui.
extern const vcl::FormResource kTForm1Resource;
