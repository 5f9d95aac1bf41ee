#include "formats/resource_section.h"

#include <windows.h>
#include <string.h>

#include "base/little_endian.h"
#include "formats/pe_headers.h"

// The data directories this writer looks at (the certificate table's "address" is a file
// offset).
#define DIRECTORY_RESOURCE IMAGE_DIRECTORY_ENTRY_RESOURCE
#define DIRECTORY_SECURITY IMAGE_DIRECTORY_ENTRY_SECURITY
#define DIRECTORY_BASERELOC IMAGE_DIRECTORY_ENTRY_BASERELOC
#define DIRECTORY_DEBUG IMAGE_DIRECTORY_ENTRY_DEBUG

// The resource directory: three levels (type, name, language) of tables, then data entries.
#define RES_TABLE_BYTES    16
#define RES_ENTRY_BYTES    8
#define RES_DATA_BYTES     16
#define RES_HIGH_BIT       0x80000000u
#define RES_TYPE_ICON      3
#define RES_TYPE_GROUP_ICON 14
#define RES_DATA_ALIGNMENT 8
#define RES_MAX_ENTRIES    (1u << 20)  // tables shared by many entries could make a walk endless
#define RES_NO_TABLE       0xFFFFFFFFu  // an icon type that the executable does not have

struct Section {
    uint32_t address, virtual_bytes, raw_at, raw_bytes, flags;
};

struct Image {
    const uint8_t* bytes;
    uint32_t size;
    const IMAGE_NT_HEADERS64* nt;  // inside bytes
    uint32_t pe, section_table, headers_bytes, directory_count;
    uint32_t file_alignment, section_alignment;
    int section_count, rsrc, reloc;  // reloc -1 when the resources are last
    Section sections[96];
    uint32_t sections_end;  // the end of the last section's file data: the overlay starts here
};

static uint64_t AlignUp(uint64_t value, uint32_t alignment)
{
    return (value + alignment - 1) & ~(uint64_t)(alignment - 1);
}

static int IsPowerOfTwo(uint32_t value) { return value && !(value & (value - 1)); }

static uint32_t Extent(const Section* section)
{
    return section->virtual_bytes ? section->virtual_bytes : section->raw_bytes;
}

static uint32_t DirectoryField(const Image* image, int index, int second)
{
    if ((uint32_t)index >= image->directory_count) return 0;
    // A directory past the sixteen of the struct is still inside the optional header.
    const IMAGE_DATA_DIRECTORY* directories =
        (const IMAGE_DATA_DIRECTORY*)((const uint8_t*)&image->nt->OptionalHeader + PE_DIRECTORIES_AT);
    return second ? directories[index].Size : directories[index].VirtualAddress;
}

// The file offset of [rva, rva + bytes) when it lies in one section's file data.
static int FileOffsetOf(const Image* image, uint32_t rva, uint32_t bytes, uint32_t* offset)
{
    for (int i = 0; i < image->section_count; i++) {
        const Section* s = &image->sections[i];
        if (rva >= s->address && (uint64_t)rva - s->address + bytes <= s->raw_bytes) {
            *offset = s->raw_at + (rva - s->address);
            return 1;
        }
    }
    return 0;
}

// The section table of an image whose headers were read.
static const IMAGE_SECTION_HEADER* SectionHeaders(const Image* image)
{
    return (const IMAGE_SECTION_HEADER*)(image->bytes + image->section_table);
}

static int ReadHeaders(const uint8_t* exe, uint32_t size, Image* image)
{
    ZeroMemory(image, sizeof *image);
    image->bytes = exe;
    image->size = size;
    const IMAGE_NT_HEADERS64* nt = ImageHeaders64(exe, size);
    if (!nt) return LAYOUT_NOT_PE;
    const IMAGE_OPTIONAL_HEADER64* optional = &nt->OptionalHeader;
    uint32_t optional_bytes = nt->FileHeader.SizeOfOptionalHeader;
    if (optional_bytes < PE_DIRECTORIES_AT) return LAYOUT_NOT_PE;
    image->nt = nt;
    image->pe = (uint32_t)((const uint8_t*)nt - exe);
    image->directory_count = optional->NumberOfRvaAndSizes;
    uint32_t room = (optional_bytes - PE_DIRECTORIES_AT) / sizeof(IMAGE_DATA_DIRECTORY);
    if (image->directory_count > room) image->directory_count = room;
    image->file_alignment = optional->FileAlignment;
    image->section_alignment = optional->SectionAlignment;
    image->headers_bytes = optional->SizeOfHeaders;
    if (!IsPowerOfTwo(image->file_alignment) || !IsPowerOfTwo(image->section_alignment))
        return LAYOUT_NOT_PE;
    image->section_table = image->pe + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) + optional_bytes;
    image->section_count = nt->FileHeader.NumberOfSections;
    int capacity = (int)(sizeof image->sections / sizeof image->sections[0]);
    if (image->section_count < 1 || image->section_count > capacity) return LAYOUT_NOT_PE;
    if ((uint64_t)image->section_table + sizeof(IMAGE_SECTION_HEADER) * image->section_count >
            image->headers_bytes ||
        image->headers_bytes > size)
        return LAYOUT_NOT_PE;
    image->sections_end = image->headers_bytes;
    const IMAGE_SECTION_HEADER* headers = SectionHeaders(image);
    for (int i = 0; i < image->section_count; i++) {
        Section* s = &image->sections[i];
        s->address = headers[i].VirtualAddress;
        s->virtual_bytes = headers[i].Misc.VirtualSize;
        s->raw_bytes = headers[i].SizeOfRawData;
        s->raw_at = s->raw_bytes ? headers[i].PointerToRawData : 0;
        s->flags = headers[i].Characteristics;
        if ((uint64_t)s->raw_at + s->raw_bytes > size) return LAYOUT_NOT_PE;
        if (s->raw_bytes && s->raw_at + s->raw_bytes > image->sections_end)
            image->sections_end = s->raw_at + s->raw_bytes;
    }
    return LAYOUT_DONE;
}

static int HasName(const Image* image, int index, const char* name)
{
    char padded[8] = {};
    memcpy(padded, name, strlen(name));
    return memcmp(SectionHeaders(image)[index].Name, padded, IMAGE_SIZEOF_SHORT_NAME) == 0;
}

// Where the resources are, what follows them, and that nothing but the base-relocation
// directory, the symbol table and the certificate table points at what moves.
static int CheckLayout(Image* image)
{
    uint32_t resource_rva = DirectoryField(image, DIRECTORY_RESOURCE, 0);
    image->rsrc = -1;
    for (int i = 0; i < image->section_count; i++)
        if (resource_rva && image->sections[i].address == resource_rva && HasName(image, i, ".rsrc"))
            image->rsrc = i;
    if (image->rsrc < 0 || image->sections[image->rsrc].raw_bytes < RES_TABLE_BYTES)
        return LAYOUT_NO_RESOURCES;
    int after = image->section_count - 1 - image->rsrc;
    image->reloc = after == 1 && HasName(image, image->rsrc + 1, ".reloc") ? image->rsrc + 1 : -1;
    if (after > 1 || (after == 1 && image->reloc < 0)) return LAYOUT_SECTION_AFTER;

    const Section* rsrc = &image->sections[image->rsrc];
    if (rsrc->raw_at < image->headers_bytes) return LAYOUT_SECTION_AFTER;
    for (int i = 0; i < image->rsrc; i++) {
        const Section* s = &image->sections[i];
        if ((uint64_t)s->address + Extent(s) > rsrc->address ||
            (s->raw_bytes && s->raw_at + s->raw_bytes > rsrc->raw_at))
            return LAYOUT_SECTION_AFTER;
    }
    if (image->reloc >= 0) {
        const Section* reloc = &image->sections[image->reloc];
        if ((uint64_t)reloc->address < (uint64_t)rsrc->address + Extent(rsrc) ||
            (reloc->raw_bytes && reloc->raw_at < rsrc->raw_at + rsrc->raw_bytes))
            return LAYOUT_SECTION_AFTER;
    }

    for (int k = 0; k < (int)image->directory_count; k++) {
        uint32_t rva = DirectoryField(image, k, 0), bytes = DirectoryField(image, k, 1);
        if (k == DIRECTORY_RESOURCE || k == DIRECTORY_SECURITY || rva == 0) continue;
        if (k == DIRECTORY_BASERELOC && image->reloc >= 0) {
            const Section* reloc = &image->sections[image->reloc];
            if (rva < reloc->address || (uint64_t)rva + bytes > (uint64_t)reloc->address + Extent(reloc))
                return LAYOUT_REFERENCED;
        } else if ((uint64_t)rva + bytes > rsrc->address) {
            return LAYOUT_REFERENCED;
        }
    }

    // Fixups inside what changes or moves would be applied to other bytes.
    uint32_t reloc_rva = DirectoryField(image, DIRECTORY_BASERELOC, 0);
    uint32_t reloc_bytes = DirectoryField(image, DIRECTORY_BASERELOC, 1);
    uint32_t at = 0;
    if (reloc_rva && reloc_bytes) {
        if (!FileOffsetOf(image, reloc_rva, reloc_bytes, &at)) return LAYOUT_REFERENCED;
        for (uint32_t block = 0; block + 8 <= reloc_bytes;) {
            uint32_t page = ReadLe32(image->bytes + at + block);
            uint32_t block_bytes = ReadLe32(image->bytes + at + block + 4);
            if (block_bytes < 8 || block_bytes > reloc_bytes - block) return LAYOUT_REFERENCED;
            for (uint32_t e = 8; e + 2 <= block_bytes; e += 2) {
                uint32_t entry = ReadLe16(image->bytes + at + block + e);
                if ((entry >> 12) != 0 && (uint64_t)page + (entry & 0xFFF) + 8 > rsrc->address)
                    return LAYOUT_REFERENCED;
            }
            block += block_bytes;
        }
    }

    // Debug data is found by file offset as well as by address.
    uint32_t debug_rva = DirectoryField(image, DIRECTORY_DEBUG, 0);
    uint32_t debug_bytes = DirectoryField(image, DIRECTORY_DEBUG, 1);
    if (debug_rva && debug_bytes) {
        if (!FileOffsetOf(image, debug_rva, debug_bytes, &at)) return LAYOUT_REFERENCED;
        for (uint32_t e = 0; e + sizeof(IMAGE_DEBUG_DIRECTORY) <= debug_bytes; e += sizeof(IMAGE_DEBUG_DIRECTORY)) {
            const IMAGE_DEBUG_DIRECTORY* entry = (const IMAGE_DEBUG_DIRECTORY*)(image->bytes + at + e);
            uint32_t data_bytes = entry->SizeOfData, data_rva = entry->AddressOfRawData;
            uint32_t data_at = entry->PointerToRawData;
            if ((data_rva && (uint64_t)data_rva + data_bytes > rsrc->address) ||
                (data_at && (uint64_t)data_at + data_bytes > rsrc->raw_at))
                return LAYOUT_REFERENCED;
        }
    }

    uint32_t symbols = image->nt->FileHeader.PointerToSymbolTable;
    if (symbols && symbols < image->sections_end) return LAYOUT_REFERENCED;
    uint32_t certificate_at = DirectoryField(image, DIRECTORY_SECURITY, 0);
    uint32_t certificate_bytes = DirectoryField(image, DIRECTORY_SECURITY, 1);
    if (certificate_bytes && (certificate_at < image->sections_end ||
                              (uint64_t)certificate_at + certificate_bytes > image->size))
        return LAYOUT_REFERENCED;
    return LAYOUT_DONE;
}

// --- The resource directory: read and checked, then written anew -------------------------

// A table entry of the new directory: an id, or RES_HIGH_BIT with the offset of the name
// string in the old section; children are a range of the next level's array.
struct NewNode {
    uint32_t key;
    uint32_t first, count;
};

struct NewLeaf {
    uint16_t language;
    uint32_t code_page;
    const uint8_t* data;
    uint32_t bytes;
};

// One walk over the old directory; the first walk only checks and counts (no arrays),
// the second fills the arrays.
struct Walk {
    const uint8_t* section;  // the old resource section's bytes
    uint32_t limit;          // how many of them the loader sees
    uint32_t address;
    const NewIconResources* icons;
    int language;            // of the new icons; -1 until found
    NewNode* types;
    NewNode* names;
    NewLeaf* leaves;
    uint32_t type_count, name_count, leaf_count, string_bytes, visits;
    uint64_t data_bytes;
};

struct Table {
    uint32_t at, named, total;
};

// The loader finds names by binary search with this order: code units, shorter first.
static int CompareNames(const uint8_t* section, uint32_t a, uint32_t b)
{
    uint32_t a_units = ReadLe16(section + a), b_units = ReadLe16(section + b);
    for (uint32_t i = 0; i < a_units && i < b_units; i++) {
        uint32_t x = ReadLe16(section + a + 2 + 2 * i), y = ReadLe16(section + b + 2 + 2 * i);
        if (x != y) return x < y ? -1 : 1;
    }
    return a_units == b_units ? 0 : (a_units < b_units ? -1 : 1);
}

// A table at offset at of level 0 (types), 1 (names) or 2 (languages), checked as the
// loader needs it: names first and in order, then ids in order, subtables above level 2
// and data entries at it, everything inside the section.
static int ReadTable(const Walk* walk, uint32_t at, int level, Table* table)
{
    if ((uint64_t)at + RES_TABLE_BYTES > walk->limit) return 0;
    table->at = at;
    table->named = ReadLe16(walk->section + at + 12);
    table->total = table->named + ReadLe16(walk->section + at + 14);
    if ((uint64_t)at + RES_TABLE_BYTES + (uint64_t)RES_ENTRY_BYTES * table->total > walk->limit)
        return 0;
    if (level == 2 && table->named) return 0;
    uint32_t previous = 0;
    for (uint32_t k = 0; k < table->total; k++) {
        const uint8_t* entry = walk->section + at + RES_TABLE_BYTES + RES_ENTRY_BYTES * k;
        uint32_t name = ReadLe32(entry), target = ReadLe32(entry + 4);
        if (k < table->named) {
            uint32_t string = name & ~RES_HIGH_BIT;
            if (!(name & RES_HIGH_BIT) || (uint64_t)string + 2 > walk->limit ||
                (uint64_t)string + 2 + 2 * ReadLe16(walk->section + string) > walk->limit)
                return 0;
            if (k > 0 && CompareNames(walk->section, previous, string) >= 0) return 0;
            previous = string;
        } else {
            if (name > 0xFFFF || (k > table->named && name <= previous)) return 0;
            previous = name;
        }
        int is_table = (target & RES_HIGH_BIT) != 0;
        if (is_table != (level < 2)) return 0;
        if ((uint64_t)(target & ~RES_HIGH_BIT) + RES_DATA_BYTES > walk->limit) return 0;
    }
    return 1;
}

static const uint8_t* EntryAt(const Walk* walk, const Table* table, uint32_t k)
{
    return walk->section + table->at + RES_TABLE_BYTES + RES_ENTRY_BYTES * k;
}

static void AddLeaf(Walk* walk, uint16_t language, uint32_t code_page, const uint8_t* data,
                    uint32_t bytes)
{
    if (walk->leaves) {
        NewLeaf* leaf = &walk->leaves[walk->leaf_count];
        leaf->language = language;
        leaf->code_page = code_page;
        leaf->data = data;
        leaf->bytes = bytes;
    }
    walk->leaf_count++;
    walk->data_bytes += AlignUp(bytes, RES_DATA_ALIGNMENT);
}

static void AddNode(Walk* walk, NewNode* nodes, uint32_t* count, uint32_t key, uint32_t first,
                    uint32_t children)
{
    if (nodes) {
        nodes[*count].key = key;
        nodes[*count].first = first;
        nodes[*count].count = children;
    }
    (*count)++;
    if (key & RES_HIGH_BIT) walk->string_bytes += 2 + 2 * ReadLe16(walk->section + (key & ~RES_HIGH_BIT));
}

// The languages of one name; keep adds them as leaves. 0 when the table is odd.
static int WalkLanguages(Walk* walk, uint32_t at, int keep, uint32_t* kept)
{
    Table table;
    if (!ReadTable(walk, at, 2, &table)) return 0;
    walk->visits += 1 + table.total;
    if (walk->visits > RES_MAX_ENTRIES) return 0;
    *kept = 0;
    for (uint32_t k = 0; k < table.total; k++) {
        const uint8_t* entry = EntryAt(walk, &table, k);
        const uint8_t* data = walk->section + ReadLe32(entry + 4);
        uint32_t rva = ReadLe32(data), bytes = ReadLe32(data + 4);
        if (rva < walk->address || (uint64_t)rva - walk->address + bytes > walk->limit) return 0;
        if (!keep) continue;
        AddLeaf(walk, (uint16_t)ReadLe32(entry), ReadLe32(data + 8),
                walk->section + (rva - walk->address), bytes);
        (*kept)++;
    }
    return 1;
}

static void AddNewIcons(Walk* walk, uint32_t type)
{
    uint16_t language = (uint16_t)(walk->language < 0 ? LAYOUT_DEFAULT_LANGUAGE : walk->language);
    if (type == RES_TYPE_GROUP_ICON) {
        AddNode(walk, walk->names, &walk->name_count, 1, walk->leaf_count, 1);
        AddLeaf(walk, language, 0, walk->icons->group, walk->icons->group_bytes);
        return;
    }
    for (int k = 0; k < ICON_IMAGE_COUNT; k++) {
        AddNode(walk, walk->names, &walk->name_count, k + 1, walk->leaf_count, 1);
        AddLeaf(walk, language, 0, walk->icons->images[k], walk->icons->image_bytes[k]);
    }
}

// One type: its names, minus the numbered ones for the two icon types, which get the new
// ones after their named ones instead. A type left without names is left out.
static int WalkNames(Walk* walk, uint32_t key, uint32_t at)
{
    int icon_type = key == RES_TYPE_ICON || key == RES_TYPE_GROUP_ICON;
    uint32_t first = walk->name_count;
    if (at != RES_NO_TABLE) {
        Table table;
        if (!ReadTable(walk, at, 1, &table)) return 0;
        for (uint32_t k = 0; k < table.total; k++) {
            const uint8_t* entry = EntryAt(walk, &table, k);
            int numbered = k >= table.named;
            int keep = !(icon_type && numbered);
            uint32_t leaf = walk->leaf_count, kept = 0;
            if (!WalkLanguages(walk, ReadLe32(entry + 4) & ~RES_HIGH_BIT, keep, &kept)) return 0;
            if (!keep && key == RES_TYPE_GROUP_ICON && walk->language < 0) {
                // the language the update path takes: the first numbered group's first one
                Table languages;
                ReadTable(walk, ReadLe32(entry + 4) & ~RES_HIGH_BIT, 2, &languages);
                if (languages.total) walk->language = (int)ReadLe32(EntryAt(walk, &languages, 0));
            }
            if (kept) AddNode(walk, walk->names, &walk->name_count, ReadLe32(entry), leaf, kept);
        }
    }
    if (icon_type) AddNewIcons(walk, key);
    if (walk->name_count > first)
        AddNode(walk, walk->types, &walk->type_count, key, first, walk->name_count - first);
    return 1;
}

// The type table: every old type in its place, the icon types added among the ids in
// order when the executable had none.
static int WalkTypes(Walk* walk)
{
    Table table;
    if (!ReadTable(walk, 0, 0, &table)) return 0;
    int icon_seen = 0, group_seen = 0;
    for (uint32_t k = 0; k < table.total; k++) {
        const uint8_t* entry = EntryAt(walk, &table, k);
        uint32_t key = ReadLe32(entry);
        if (k >= table.named) {
            if (!icon_seen && key >= RES_TYPE_ICON) {
                icon_seen = 1;
                if (key != RES_TYPE_ICON && !WalkNames(walk, RES_TYPE_ICON, RES_NO_TABLE)) return 0;
            }
            if (!group_seen && key >= RES_TYPE_GROUP_ICON) {
                group_seen = 1;
                if (key != RES_TYPE_GROUP_ICON && !WalkNames(walk, RES_TYPE_GROUP_ICON, RES_NO_TABLE))
                    return 0;
            }
        }
        if (!WalkNames(walk, key, ReadLe32(entry + 4) & ~RES_HIGH_BIT)) return 0;
    }
    if (!icon_seen && !WalkNames(walk, RES_TYPE_ICON, RES_NO_TABLE)) return 0;
    if (!group_seen && !WalkNames(walk, RES_TYPE_GROUP_ICON, RES_NO_TABLE)) return 0;
    return 1;
}

// Writes a table of nodes[first, first + count) at offset at, with its name strings at
// *strings_at; each node's own table (header and one entry per child) follows the last at
// child_at. Returns where the tables of the next level go on.
static uint32_t WriteTable(uint8_t* out, uint32_t at, const uint8_t* old_section,
                           const NewNode* nodes, uint32_t first, uint32_t count,
                           uint32_t* strings_at, uint32_t child_at)
{
    uint32_t named = 0;
    for (uint32_t i = 0; i < count; i++)
        if (nodes[first + i].key & RES_HIGH_BIT) named++;
    PutLe16(out + at + 12, named);
    PutLe16(out + at + 14, count - named);
    for (uint32_t i = 0; i < count; i++) {
        const NewNode* node = &nodes[first + i];
        uint8_t* entry = out + at + RES_TABLE_BYTES + RES_ENTRY_BYTES * i;
        if (node->key & RES_HIGH_BIT) {
            const uint8_t* string = old_section + (node->key & ~RES_HIGH_BIT);
            uint32_t bytes = 2 + 2 * ReadLe16(string);
            memcpy(out + *strings_at, string, bytes);
            PutLe32(entry, RES_HIGH_BIT | *strings_at);
            *strings_at += bytes;
        } else {
            PutLe32(entry, node->key);
        }
        PutLe32(entry + 4, RES_HIGH_BIT | child_at);
        child_at += RES_TABLE_BYTES + RES_ENTRY_BYTES * node->count;
    }
    return child_at;
}

void FreeExecutableLayout(ExecutableLayout* layout)
{
    HANDLE heap = GetProcessHeap();
    if (layout->pieces) HeapFree(heap, 0, layout->pieces);
    if (layout->block) HeapFree(heap, 0, layout->block);
    ZeroMemory(layout, sizeof *layout);
}

static void AddPiece(ExecutableLayout* layout, const uint8_t* bytes, uint64_t count)
{
    if (count == 0) return;
    layout->pieces[layout->piece_count].bytes = bytes;
    layout->pieces[layout->piece_count].count = (uint32_t)count;
    layout->piece_count++;
}

// Where everything goes: offsets in the new resource section (tables of types, names and
// languages, data entries, strings, data), and the new places of what follows it.
struct Plan {
    uint64_t name_tables_at, language_tables_at, data_entries_at, strings_at, data_at;
    uint64_t section_bytes, raw_bytes;
    uint64_t reloc_address, sections_end, file_bytes, image_bytes;
    uint32_t certificate_at, certificate_bytes;
};

static int PlanLayout(const Image* image, const Walk* walk, Plan* plan)
{
    const Section* rsrc = &image->sections[image->rsrc];
    const Section* reloc = image->reloc >= 0 ? &image->sections[image->reloc] : nullptr;
    plan->name_tables_at = RES_TABLE_BYTES + (uint64_t)RES_ENTRY_BYTES * walk->type_count;
    plan->language_tables_at = plan->name_tables_at + (uint64_t)RES_TABLE_BYTES * walk->type_count +
                               (uint64_t)RES_ENTRY_BYTES * walk->name_count;
    plan->data_entries_at = plan->language_tables_at + (uint64_t)RES_TABLE_BYTES * walk->name_count +
                            (uint64_t)RES_ENTRY_BYTES * walk->leaf_count;
    plan->strings_at = plan->data_entries_at + (uint64_t)RES_DATA_BYTES * walk->leaf_count;
    plan->data_at = AlignUp(plan->strings_at + walk->string_bytes, RES_DATA_ALIGNMENT);
    plan->section_bytes = plan->data_at + walk->data_bytes;
    plan->raw_bytes = AlignUp(plan->section_bytes, image->file_alignment);
    plan->reloc_address = AlignUp(rsrc->address + plan->section_bytes, image->section_alignment);
    plan->sections_end = rsrc->raw_at + plan->raw_bytes + (reloc ? reloc->raw_bytes : 0);
    plan->certificate_at = DirectoryField(image, DIRECTORY_SECURITY, 0);
    plan->certificate_bytes = DirectoryField(image, DIRECTORY_SECURITY, 1);
    plan->file_bytes = plan->sections_end + (image->size - image->sections_end) - plan->certificate_bytes;
    uint64_t image_end = reloc ? plan->reloc_address + Extent(reloc) : rsrc->address + plan->section_bytes;
    plan->image_bytes = AlignUp(image_end, image->section_alignment);
    return plan->file_bytes > 0xFFFFFFFFull || plan->image_bytes > 0xFFFFFFFFull ? LAYOUT_TOO_LARGE
                                                                                 : LAYOUT_DONE;
}

// The old headers with the new sizes and places; the checksum is left zero.
static void WriteHeaders(const Image* image, const Plan* plan, uint8_t* headers)
{
    const Section* rsrc = &image->sections[image->rsrc];
    memcpy(headers, image->bytes, image->headers_bytes);
    IMAGE_NT_HEADERS64* nt = (IMAGE_NT_HEADERS64*)(headers + image->pe);
    IMAGE_OPTIONAL_HEADER64* optional = &nt->OptionalHeader;
    IMAGE_DATA_DIRECTORY* directories = (IMAGE_DATA_DIRECTORY*)((uint8_t*)optional + PE_DIRECTORIES_AT);
    IMAGE_SECTION_HEADER* rsrc_header = (IMAGE_SECTION_HEADER*)(headers + image->section_table) + image->rsrc;
    optional->CheckSum = 0;
    rsrc_header->Misc.VirtualSize = (uint32_t)plan->section_bytes;
    rsrc_header->SizeOfRawData = (uint32_t)plan->raw_bytes;
    directories[DIRECTORY_RESOURCE].Size = (uint32_t)plan->section_bytes;
    if (rsrc->flags & IMAGE_SCN_CNT_INITIALIZED_DATA)
        optional->SizeOfInitializedData += (uint32_t)plan->raw_bytes - rsrc->raw_bytes;
    if (image->reloc >= 0) {
        const Section* reloc = &image->sections[image->reloc];
        IMAGE_SECTION_HEADER* reloc_header = rsrc_header + 1;
        reloc_header->VirtualAddress = (uint32_t)plan->reloc_address;
        if (reloc->raw_bytes) reloc_header->PointerToRawData = rsrc->raw_at + (uint32_t)plan->raw_bytes;
        IMAGE_DATA_DIRECTORY* relocations = &directories[DIRECTORY_BASERELOC];
        if (image->directory_count > DIRECTORY_BASERELOC && relocations->VirtualAddress)
            relocations->VirtualAddress += (uint32_t)plan->reloc_address - reloc->address;
    }
    optional->SizeOfImage = (uint32_t)plan->image_bytes;
    if (plan->certificate_bytes) {
        directories[DIRECTORY_SECURITY].VirtualAddress = 0;
        directories[DIRECTORY_SECURITY].Size = 0;
    }
    if (nt->FileHeader.PointerToSymbolTable)
        nt->FileHeader.PointerToSymbolTable += (uint32_t)plan->sections_end - image->sections_end;
}

// The tables, data entries and strings of the new section, into out (zero-filled).
static void WriteDirectory(const Walk* walk, const Plan* plan, uint8_t* out)
{
    memcpy(out, walk->section, 12);  // the old root's characteristics, time and version
    uint32_t strings_at = (uint32_t)plan->strings_at;
    WriteTable(out, 0, walk->section, walk->types, 0, walk->type_count, &strings_at,
               (uint32_t)plan->name_tables_at);
    uint32_t table_at = (uint32_t)plan->name_tables_at, child_at = (uint32_t)plan->language_tables_at;
    for (uint32_t t = 0; t < walk->type_count; t++) {
        child_at = WriteTable(out, table_at, walk->section, walk->names, walk->types[t].first,
                              walk->types[t].count, &strings_at, child_at);
        table_at += RES_TABLE_BYTES + RES_ENTRY_BYTES * walk->types[t].count;
    }
    for (uint32_t n = 0; n < walk->name_count; n++) {
        const NewNode* name = &walk->names[n];
        uint8_t* table = out + table_at;
        PutLe16(table + 14, name->count);
        for (uint32_t i = 0; i < name->count; i++) {
            uint8_t* entry = table + RES_TABLE_BYTES + RES_ENTRY_BYTES * i;
            PutLe32(entry, walk->leaves[name->first + i].language);
            PutLe32(entry + 4, (uint32_t)plan->data_entries_at + RES_DATA_BYTES * (name->first + i));
        }
        table_at += RES_TABLE_BYTES + RES_ENTRY_BYTES * name->count;
    }
    uint64_t data_at = plan->data_at;
    for (uint32_t i = 0; i < walk->leaf_count; i++) {
        uint8_t* entry = out + plan->data_entries_at + RES_DATA_BYTES * i;
        PutLe32(entry, walk->address + (uint32_t)data_at);
        PutLe32(entry + 4, walk->leaves[i].bytes);
        PutLe32(entry + 8, walk->leaves[i].code_page);
        data_at += AlignUp(walk->leaves[i].bytes, RES_DATA_ALIGNMENT);
    }
}

// The new file in order: headers, the sections before the resources as they were, the new
// directory, each resource's data, .reloc, and the overlay without the certificate table.
static void AddPieces(const Image* image, const Walk* walk, const Plan* plan, const uint8_t* directory,
                      ExecutableLayout* layout)
{
    const uint8_t* exe = image->bytes;
    const Section* rsrc = &image->sections[image->rsrc];
    AddPiece(layout, layout->block, image->headers_bytes);
    AddPiece(layout, exe + image->headers_bytes, rsrc->raw_at - image->headers_bytes);
    AddPiece(layout, directory, plan->data_at);
    for (uint32_t i = 0; i < walk->leaf_count; i++) {
        const NewLeaf* leaf = &walk->leaves[i];
        AddPiece(layout, leaf->data, leaf->bytes);
        AddPiece(layout, nullptr, AlignUp(leaf->bytes, RES_DATA_ALIGNMENT) - leaf->bytes);
    }
    AddPiece(layout, nullptr, plan->raw_bytes - plan->section_bytes);
    if (image->reloc >= 0)
        AddPiece(layout, exe + image->sections[image->reloc].raw_at, image->sections[image->reloc].raw_bytes);
    uint32_t certificate_end = plan->certificate_at + plan->certificate_bytes;
    if (plan->certificate_bytes) {
        AddPiece(layout, exe + image->sections_end, plan->certificate_at - image->sections_end);
        AddPiece(layout, exe + certificate_end, image->size - certificate_end);
    } else {
        AddPiece(layout, exe + image->sections_end, image->size - image->sections_end);
    }
}

int LayOutIconResources(const uint8_t* exe, uint32_t exe_bytes, const NewIconResources* icons,
                        ExecutableLayout* layout)
{
    ZeroMemory(layout, sizeof *layout);
    Image image;
    int code = ReadHeaders(exe, exe_bytes, &image);
    if (code == LAYOUT_DONE) code = CheckLayout(&image);
    if (code != LAYOUT_DONE) return code;
    const Section* rsrc = &image.sections[image.rsrc];

    Walk walk;
    ZeroMemory(&walk, sizeof walk);
    walk.section = exe + rsrc->raw_at;
    walk.limit = rsrc->virtual_bytes && rsrc->virtual_bytes < rsrc->raw_bytes ? rsrc->virtual_bytes
                                                                                : rsrc->raw_bytes;
    walk.address = rsrc->address;
    walk.icons = icons;
    walk.language = -1;
    if (!WalkTypes(&walk)) return LAYOUT_ODD_DIRECTORY;
    Plan plan;
    if (PlanLayout(&image, &walk, &plan) != LAYOUT_DONE) return LAYOUT_TOO_LARGE;

    HANDLE heap = GetProcessHeap();
    uint32_t leaves = walk.leaf_count;
    layout->block = (uint8_t*)HeapAlloc(heap, HEAP_ZERO_MEMORY, image.headers_bytes + (size_t)plan.data_at);
    layout->pieces = (FilePiece*)HeapAlloc(heap, 0, sizeof(FilePiece) * (8 + 2 * (size_t)leaves));
    walk.types = (NewNode*)HeapAlloc(heap, 0, sizeof(NewNode) * (walk.type_count + 1));
    walk.names = (NewNode*)HeapAlloc(heap, 0, sizeof(NewNode) * (walk.name_count + 1));
    walk.leaves = (NewLeaf*)HeapAlloc(heap, 0, sizeof(NewLeaf) * (leaves + 1));
    int filled = layout->block && layout->pieces && walk.types && walk.names && walk.leaves;
    if (filled) {
        walk.type_count = walk.name_count = walk.leaf_count = walk.string_bytes = walk.visits = 0;
        walk.data_bytes = 0;
        filled = WalkTypes(&walk);  // the same walk again, now into the arrays
    }
    if (filled) {
        uint8_t* directory = layout->block + image.headers_bytes;
        WriteHeaders(&image, &plan, layout->block);
        WriteDirectory(&walk, &plan, directory);
        AddPieces(&image, &walk, &plan, directory, layout);
        layout->file_bytes = (uint32_t)plan.file_bytes;
        layout->language = (uint16_t)(walk.language < 0 ? LAYOUT_DEFAULT_LANGUAGE : walk.language);
        if (image.nt->OptionalHeader.CheckSum)  // a zero checksum stays zero
            ((IMAGE_NT_HEADERS64*)(layout->block + image.pe))->OptionalHeader.CheckSum =
                ImageChecksumOfPieces(layout->pieces, layout->piece_count);
    }
    if (walk.types) HeapFree(heap, 0, walk.types);
    if (walk.names) HeapFree(heap, 0, walk.names);
    if (walk.leaves) HeapFree(heap, 0, walk.leaves);
    if (!filled) {
        FreeExecutableLayout(layout);
        return LAYOUT_NO_MEMORY;
    }
    return LAYOUT_DONE;
}
