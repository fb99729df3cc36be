#pragma once
// Everything of the GDI+ stand-in.
#include "gdiplus/bitmap.h"
#include "gdiplus/draw_string_observer.h"
#include "gdiplus/encoders.h"
#include "gdiplus/graphics.h"
#include "gdiplus/startup.h"
#include "gdiplus/types.h"
#include "gdiplus/window_surface.h"
