/* The one translation unit that holds stb_image's implementation, limited to the formats
 * the Windows decoder opens as well. Formats without a signature (TGA) are left out so that
 * no arbitrary file passes for a picture. */
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_ONLY_GIF
#include <stb/stb_image.h>
