// The PNG decoder the tool tests read previews back with.
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
