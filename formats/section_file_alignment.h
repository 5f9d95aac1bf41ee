// Moves one section's data in an image file to the start of a page of the file. Wine maps a
// section of an image from its file only when the section starts on a page there; any other
// section it reads into new memory. The setup program links with a file alignment of 512,
// so that its small sections take little room, and this step then puts its large resource
// section (the package) on a page of its own, so that Wine maps the package, not copies it.
// Byte-level work over a buffer; the caller writes the new file.
#pragma once
#include <stdint.h>

#define SECTION_ALIGN_DONE        0
#define SECTION_ALIGN_NOT_PE      1  // not a well-formed 64-bit image
#define SECTION_ALIGN_NO_SECTION  2  // no section of that name with data in the file
#define SECTION_ALIGN_NOT_MAPPABLE 3 // its address is not on a page: no file offset helps
#define SECTION_ALIGN_REFERENCED  4  // a file offset outside the section table points after it
                                     // (a certificate table, symbols, debug data)

#define SECTION_ALIGN_PAGE_BYTES 4096u

// Plans the move of the section called name (up to 8 bytes, as in the section table): the
// count of zero bytes to insert at file offset insert_at so that its data start on a page.
// When that count is not 0, the section table in image is updated for the new file (every
// section whose data lie from insert_at on moves by it, and a checksum is made anew); the caller writes image[0, insert_at),
// the zero bytes, then image[insert_at, image_bytes). Nothing is changed unless done.
int PlanPageAlignedSection(uint8_t* image, uint32_t image_bytes, const char* name,
                           uint32_t* insert_at, uint32_t* padding);
