#pragma once
// The row rules are the slot codecs.
#include "protocol/values/Codec.h"
