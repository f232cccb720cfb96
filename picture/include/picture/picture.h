#pragma once
// The picture services: load, scale, draw, grey and save 32-bit BGRA pictures.
#include "picture/bitmap.h"
#include "picture/encoders.h"
#include "picture/gray.h"
#include "picture/load.h"
#include "picture/scaler.h"
