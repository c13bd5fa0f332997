// The item keys live with the property store, so that the protocol builders read them too.
#pragma once

#include "props/item_keys.h"
