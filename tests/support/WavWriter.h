#pragma once
#include "TestBytes.h" // writeFile() lives there now; sound tests make their tones with sox
