/* tree_host.c - a C host of the library, built for Linux and for Windows.
 *
 *   tree_host PACK FOLDER       every file of PACK read through the C
 *                               interface and compared byte for byte with
 *                               FOLDER/<its name>; found again under its
 *                               name in other letter case; the argument
 *                               checks (a small buffer, an index past the
 *                               end, an unknown name) refused as documented.
 *                               Prints "N files, B bytes equal".
 *   tree_host --refuse PACK     PACK must not open; prints the reason.
 *   tree_host --replaced PACK OTHER
 *                               PACK opens; then the host rewrites PACK in
 *                               place with the bytes of OTHER (of another
 *                               size), and reading must fail as a changed
 *                               pack, never return OTHER's bytes.
 *   tree_host --damaged PACK NAME
 *                               PACK opens, but reading NAME must fail as
 *                               damage, with the byte offset in the reason.
 * Exit status 0 only when every check held. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tovelink.h"

static int failures = 0;

static void check(int ok, const char* what, const char* detail) {
    if (!ok) {
        fprintf(stderr, "tree_host: FAILED: %s%s%s\n", what, detail ? ": " : "",
                detail ? detail : "");
        ++failures;
    }
}

/* The whole of a disk file, or null. */
static unsigned char* read_disk(const char* path, uint64_t* size) {
    FILE* f = fopen(path, "rb");
    unsigned char* bytes = NULL;
    uint64_t used = 0, room = 0;
    if (!f)
        return NULL;
    for (;;) {
        size_t n;
        if (used == room) {
            unsigned char* more;
            room = room ? room * 2 : 65536;
            more = (unsigned char*)realloc(bytes, (size_t)room);
            if (!more) {
                free(bytes);
                fclose(f);
                return NULL;
            }
            bytes = more;
        }
        n = fread(bytes + used, 1, (size_t)(room - used), f);
        if (n == 0)
            break;
        used += n;
    }
    fclose(f);
    *size = used;
    return bytes;
}

static void swap_case(char* s) {
    for (; *s; ++s) {
        if (*s >= 'a' && *s <= 'z')
            *s = (char)(*s - 'a' + 'A');
        else if (*s >= 'A' && *s <= 'Z')
            *s = (char)(*s - 'A' + 'a');
    }
}

static int compare_tree(const char* pack, const char* folder) {
    tovelink_reader* reader = tovelink_open(pack);
    uint32_t count, i;
    uint64_t total = 0;
    if (!reader) {
        check(0, "open", tovelink_error(NULL));
        return 1;
    }
    check(strcmp(tovelink_error(reader), "") == 0, "no error after a sound open",
          tovelink_error(reader));
    count = tovelink_count(reader);
    for (i = 0; i < count; ++i) {
        const char* name = tovelink_name(reader, i);
        char path[4096], other[4096];
        uint64_t disk_size = 0, size;
        unsigned char *disk, *bytes;
        size_t k;
        if (!name || strlen(folder) + strlen(name) + 2 > sizeof path) {
            check(0, "a name for every index", name);
            continue;
        }
        strcpy(path, folder);
        strcat(path, "/");
        strcat(path, name);
        for (k = strlen(folder); path[k]; ++k)
            if (path[k] == '\\')
                path[k] = '/';
        disk = read_disk(path, &disk_size);
        if (!disk) {
            check(0, "the file on disk", path);
            continue;
        }
        size = tovelink_size(reader, i);
        check(size == disk_size, "size", name);
        check(tovelink_packed_size(reader, i) > 0 || size == 0, "packed size", name);
        /* One byte more than needed, which must stay untouched. */
        bytes = (unsigned char*)malloc((size_t)size + 1);
        if (!bytes) {
            free(disk);
            check(0, "memory", name);
            continue;
        }
        bytes[size] = 0xA5;
        check(tovelink_read(reader, i, bytes, size + 1) == TOVELINK_OK, "read",
              tovelink_error(reader));
        check(size == disk_size && (size == 0 || memcmp(bytes, disk, (size_t)size) == 0), "bytes", name);
        check(bytes[size] == 0xA5, "nothing written past the file", name);
        if (size > 0) {
            check(tovelink_read(reader, i, bytes, size - 1) == TOVELINK_ERROR_CAPACITY,
                  "a buffer one byte short is refused", name);
            check(strstr(tovelink_error(reader), "too small") != NULL, "the short buffer's reason",
                  tovelink_error(reader));
            check(tovelink_read(reader, i, NULL, size) == TOVELINK_ERROR_ARGUMENT,
                  "a null buffer is refused", name);
        }
        free(bytes);
        free(disk);
        strcpy(other, name);
        swap_case(other);
        /* The first of several equal names wins, so an entry is found at
         * its own index or at an earlier one. */
        check(tovelink_find(reader, name) >= 0 && tovelink_find(reader, name) <= (int64_t)i,
              "found by its own name", name);
        check(tovelink_find(reader, other) == tovelink_find(reader, name),
              "found in other letter case", other);
        strcat(other, "~");
        check(tovelink_find(reader, other) == -1, "an unknown name is not found", other);
        total += size;
    }
    check(tovelink_name(reader, count) == NULL, "no name past the end", NULL);
    check(tovelink_size(reader, count) == 0 && tovelink_packed_size(reader, count) == 0,
          "no size past the end", NULL);
    {
        unsigned char byte;
        check(tovelink_read(reader, count, &byte, 1) == TOVELINK_ERROR_ARGUMENT,
              "no read past the end", NULL);
        check(strstr(tovelink_error(reader), "index") != NULL, "the reason names the index",
              tovelink_error(reader));
    }
    check(tovelink_find(reader, NULL) == -1 && tovelink_find(NULL, "x") == -1, "null arguments",
          NULL);
    tovelink_close(reader);
    if (failures == 0)
        printf("%lu files, %llu bytes equal\n", (unsigned long)count, (unsigned long long)total);
    return failures != 0;
}

int main(int argc, char** argv) {
    check(strcmp(tovelink_version(), TOVELINK_VERSION_STRING) == 0, "library and header versions",
          tovelink_version());
    tovelink_close(NULL);
    check(tovelink_count(NULL) == 0, "a null reader holds nothing", NULL);
    if (argc == 3 && strcmp(argv[1], "--refuse") == 0) {
        tovelink_reader* reader = tovelink_open(argv[2]);
        check(reader == NULL, "the pack is refused", argv[2]);
        check(strlen(tovelink_error(NULL)) > 0, "a refusal has a reason", NULL);
        tovelink_close(reader);
        printf("%s\n", tovelink_error(NULL));
        return failures != 0;
    }
    if (argc == 4 && strcmp(argv[1], "--replaced") == 0) {
        tovelink_reader* reader = tovelink_open(argv[2]);
        uint64_t size = 0;
        unsigned char* other = read_disk(argv[3], &size);
        unsigned char byte[1];
        FILE* f;
        uint32_t i;
        if (!reader || !other) {
            check(0, "open", tovelink_error(NULL));
            free(other);
            return 1;
        }
        f = fopen(argv[2], "wb");
        check(f && fwrite(other, 1, (size_t)size, f) == size && fclose(f) == 0, "rewrite", argv[2]);
        for (i = 0; i < tovelink_count(reader); ++i) {
            uint64_t length = tovelink_size(reader, i);
            unsigned char* bytes = (unsigned char*)malloc((size_t)length + 1);
            check(bytes &&
                      tovelink_read(reader, i, length ? bytes : byte, length) == TOVELINK_ERROR_IO,
                  "a read of a changed pack fails", tovelink_name(reader, i));
            check(strstr(tovelink_error(reader), "changed") != NULL, "the reason says so",
                  tovelink_error(reader));
            free(bytes);
        }
        printf("%s\n", tovelink_error(reader));
        tovelink_close(reader);
        free(other);
        return failures != 0;
    }
    if (argc == 4 && strcmp(argv[1], "--damaged") == 0) {
        tovelink_reader* reader = tovelink_open(argv[2]);
        int64_t index;
        unsigned char* bytes;
        if (!reader) {
            check(0, "open", tovelink_error(NULL));
            return 1;
        }
        index = tovelink_find(reader, argv[3]);
        check(index >= 0, "the damaged file is listed", argv[3]);
        if (index >= 0) {
            uint64_t size = tovelink_size(reader, (uint32_t)index);
            bytes = (unsigned char*)malloc((size_t)size + 1);
            check(bytes &&
                      tovelink_read(reader, (uint32_t)index, bytes, size) == TOVELINK_ERROR_DAMAGED,
                  "the damaged file is refused as damage", tovelink_error(reader));
            check(strstr(tovelink_error(reader), " at offset ") != NULL,
                  "the reason holds the offset", tovelink_error(reader));
            printf("%s\n", tovelink_error(reader));
            free(bytes);
        }
        tovelink_close(reader);
        return failures != 0;
    }
    if (argc != 3 || argv[1][0] == '-') {
        fprintf(stderr,
                "usage: tree_host PACK FOLDER | --refuse PACK | --replaced PACK OTHER |"
                " --damaged PACK NAME\n");
        return 2;
    }
    return compare_tree(argv[1], argv[2]);
}
