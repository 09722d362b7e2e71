// stb_image_write, used by the tests to make PNG and JPEG inputs for the decoder.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
