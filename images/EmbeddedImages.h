// The block of the four embedded firmware images (image 4 first, image 1 last).
#pragma once

extern "C" const unsigned char veloImageBlocks[];
extern "C" const unsigned char veloImageBlocksEnd[];
