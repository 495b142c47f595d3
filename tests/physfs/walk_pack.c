/* walk_pack PACK TREE DAMAGED BAD_PACK BAD_NAME: a PhysicsFS program that mounts
 * PACK through the pack archiver and compares it with the folder TREE on
 * disk: the same names in every folder, the same sizes and bytes of every
 * file (read whole, in pieces, and after seeks), every name found again in
 * upper case. The same again for the pack mounted from memory through an
 * Io of this program's own (PhysicsFS 3.0.2's PHYSFS_mountMemory never frees
 * its Io, which the sanitizers would report as ours). Then what
 * must fail: a second registration, a folder opened as a file, a pack cut
 * inside its directory (DAMAGED), the file BAD_NAME of BAD_PACK, whose
 * stored bytes are damaged (BAD_PACK's good.txt holds "good\n" and must
 * read), a file that is no pack. (A pack is never given to
 * PHYSFS_setWriteDir here: PhysicsFS 3.0.2 opens a file named there for
 * writing, emptying it, before any archiver sees it.) Prints what it compared; exit
 * status 1 after any difference. */
#include <dirent.h>
#include <physfs.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <tovelink/physfs.h>

static int failures;
static long files, folders;
/* Bytes of the mount point before the pack's own names ("mem/"): PhysicsFS
 * itself compares those exactly. */
static size_t mountPrefix;
/* The first folder met in the pack, opened as a file later. */
static char firstFolder[4096];

#define CHECK(condition, ...)                            \
    do {                                                 \
        if (!(condition)) {                              \
            fprintf(stderr, "walk_pack: " __VA_ARGS__);  \
            fprintf(stderr, " (%s)\n", PHYSFS_getErrorByCode(PHYSFS_getLastErrorCode())); \
            ++failures;                                  \
        }                                                \
    } while (0)

static unsigned char* ReadDisk(const char* path, size_t* size) {
    FILE* f = fopen(path, "rb");
    unsigned char* data = NULL;
    *size = 0;
    if (!f)
        return NULL;
    fseek(f, 0, SEEK_END);
    *size = (size_t)ftell(f);
    fseek(f, 0, SEEK_SET);
    data = malloc(*size + 1);
    if (data && fread(data, 1, *size, f) != *size) {
        free(data);
        data = NULL;
    }
    fclose(f);
    return data;
}

/* A read-only PHYSFS_Io over bytes in memory; duplicates share the bytes,
 * the last one destroyed frees them. */
typedef struct {
    unsigned char* bytes;
    PHYSFS_uint64 size, position;
    int* users;
} MemoryIo;

static PHYSFS_sint64 MemoryRead(PHYSFS_Io* io, void* out, PHYSFS_uint64 n) {
    MemoryIo* m = io->opaque;
    if (n > m->size - m->position)
        n = m->size - m->position;
    memcpy(out, m->bytes + m->position, (size_t)n);
    m->position += n;
    return (PHYSFS_sint64)n;
}
static PHYSFS_sint64 MemoryWrite(PHYSFS_Io* io, const void* in, PHYSFS_uint64 n) {
    (void)io, (void)in, (void)n;
    return -1;
}
static int MemorySeek(PHYSFS_Io* io, PHYSFS_uint64 to) {
    MemoryIo* m = io->opaque;
    if (to > m->size)
        return 0;
    m->position = to;
    return 1;
}
static PHYSFS_sint64 MemoryTell(PHYSFS_Io* io) {
    return (PHYSFS_sint64)((MemoryIo*)io->opaque)->position;
}
static PHYSFS_sint64 MemoryLength(PHYSFS_Io* io) {
    return (PHYSFS_sint64)((MemoryIo*)io->opaque)->size;
}
static int MemoryFlush(PHYSFS_Io* io) {
    (void)io;
    return 1;
}
static PHYSFS_Io* MemoryDuplicate(PHYSFS_Io* io);
static void MemoryDestroy(PHYSFS_Io* io) {
    MemoryIo* m = io->opaque;
    if (--*m->users == 0) {
        free(m->bytes);
        free(m->users);
    }
    free(m);
    free(io);
}
static PHYSFS_Io* NewMemoryIo(unsigned char* bytes, PHYSFS_uint64 size, int* users) {
    PHYSFS_Io* io = calloc(1, sizeof *io);
    MemoryIo* m = calloc(1, sizeof *m);
    if (!io || !m) {
        free(io);
        free(m);
        return NULL;
    }
    m->bytes = bytes;
    m->size = size;
    m->users = users;
    ++*users;
    io->opaque = m;
    io->read = MemoryRead;
    io->write = MemoryWrite;
    io->seek = MemorySeek;
    io->tell = MemoryTell;
    io->length = MemoryLength;
    io->duplicate = MemoryDuplicate;
    io->flush = MemoryFlush;
    io->destroy = MemoryDestroy;
    return io;
}
static PHYSFS_Io* MemoryDuplicate(PHYSFS_Io* io) {
    MemoryIo* m = io->opaque;
    return NewMemoryIo(m->bytes, m->size, m->users);
}

static void Join(char* out, size_t room, const char* a, const char* b) {
    snprintf(out, room, "%s%s%s", a, *a ? "/" : "", b);
}

/* The file `path` of PhysicsFS against `expected`: whole, in odd pieces,
 * after seeks. */
static void CompareFile(const char* path, const unsigned char* expected, size_t size) {
    PHYSFS_File* f = PHYSFS_openRead(path);
    unsigned char* got = malloc(size + 1);
    size_t done = 0;
    PHYSFS_sint64 n;
    CHECK(f != NULL, "%s does not open", path);
    if (!f || !got) {
        free(got);
        return;
    }
    CHECK(PHYSFS_fileLength(f) == (PHYSFS_sint64)size, "%s: length %lld, not %zu", path,
          (long long)PHYSFS_fileLength(f), size);
    while ((n = PHYSFS_readBytes(f, got + done, 70001)) > 0)
        done += (size_t)n;
    CHECK(n == 0 && done == size && memcmp(got, expected, size) == 0,
          "%s: other bytes (%zu of %zu read)", path, done, size);
    CHECK(PHYSFS_eof(f), "%s: not at its end after reading it", path);
    if (size > 0) {
        const PHYSFS_uint64 at[] = {size / 3, size - 1, 0, size / 2};
        size_t i;
        for (i = 0; i < sizeof at / sizeof at[0]; ++i) {
            const size_t want = size - at[i] < 5000 ? size - at[i] : 5000;
            CHECK(PHYSFS_seek(f, at[i]), "%s: seek to %llu", path, (unsigned long long)at[i]);
            CHECK(PHYSFS_tell(f) == (PHYSFS_sint64)at[i], "%s: tell after a seek", path);
            CHECK(PHYSFS_readBytes(f, got, want) == (PHYSFS_sint64)want &&
                      memcmp(got, expected + at[i], want) == 0,
                  "%s: other bytes at %llu", path, (unsigned long long)at[i]);
        }
    }
    CHECK(!PHYSFS_seek(f, size + 1), "%s: a seek past the end succeeded", path);
    PHYSFS_close(f);
    free(got);
}

/* The names of `dir` in PhysicsFS and of `disk`, both ways, recursively. */
static void CompareFolder(const char* dir, const char* disk) {
    char** names = PHYSFS_enumerateFiles(dir);
    char** name;
    long shown = 0, onDisk = 0;
    DIR* d;
    struct dirent* e;
    CHECK(names != NULL, "%s does not list", dir);
    if (!names)
        return;
    for (name = names; *name; ++name) {
        char path[4096], diskPath[4096], upper[4096];
        PHYSFS_Stat st;
        struct stat ds;
        size_t i;
        ++shown;
        Join(path, sizeof path, dir, *name);
        snprintf(diskPath, sizeof diskPath, "%s/%s", disk, *name);
        CHECK(PHYSFS_stat(path, &st), "%s: no stat", path);
        if (lstat(diskPath, &ds) != 0) {
            CHECK(0, "%s is in the pack but not on disk", path);
            continue;
        }
        CHECK(st.readonly, "%s: not read-only", path);
        /* Found in any letter case, as the same thing. */
        for (i = 0; path[i]; ++i)
            upper[i] = (char)(i >= mountPrefix && path[i] >= 'a' && path[i] <= 'z' ? path[i] - 32
                                                                                   : path[i]);
        upper[i] = 0;
        if (S_ISDIR(ds.st_mode)) {
            ++folders;
            if (!firstFolder[0])
                snprintf(firstFolder, sizeof firstFolder, "%s", path);
            CHECK(st.filetype == PHYSFS_FILETYPE_DIRECTORY, "%s: not a folder", path);
            PHYSFS_Stat again;
            CHECK(PHYSFS_stat(upper, &again) && again.filetype == PHYSFS_FILETYPE_DIRECTORY,
                  "%s: not found as %s", path, upper);
            CompareFolder(path, diskPath);
        } else {
            size_t size;
            unsigned char* expected = ReadDisk(diskPath, &size);
            ++files;
            CHECK(st.filetype == PHYSFS_FILETYPE_REGULAR, "%s: not a file", path);
            CHECK(st.filesize == (PHYSFS_sint64)size, "%s: size %lld, not %zu", path,
                  (long long)st.filesize, size);
            if (expected) {
                CompareFile(path, expected, size);
                CompareFile(upper, expected, size);
            }
            free(expected);
        }
    }
    PHYSFS_freeList(names);
    d = opendir(disk);
    CHECK(d != NULL, "%s: cannot list it on disk", disk);
    while (d && (e = readdir(d)) != NULL)
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            ++onDisk;
    if (d)
        closedir(d);
    CHECK(shown == onDisk, "%s: %ld names in the pack, %ld on disk", dir, shown, onDisk);
}

int main(int argc, char** argv) {
    const PHYSFS_ArchiveInfo** info;
    int listed = 0;
    size_t size;
    unsigned char* bytes;
    if (argc != 6) {
        fprintf(stderr, "usage: walk_pack PACK TREE DAMAGED BAD_PACK BAD_NAME\n");
        return 2;
    }
    if (!PHYSFS_init(argv[0])) {
        fprintf(stderr, "walk_pack: PHYSFS_init failed\n");
        return 1;
    }
    CHECK(tovelink_physfs_register(), "the archiver does not register");
    CHECK(!tovelink_physfs_register() && PHYSFS_getLastErrorCode() == PHYSFS_ERR_DUPLICATE,
          "a second registration did not fail as a duplicate");
    for (info = PHYSFS_supportedArchiveTypes(); *info; ++info)
        listed |= strcmp((*info)->extension, "VPF") == 0;
    CHECK(listed, "VPF is not among the archive types");

    CHECK(PHYSFS_mount(argv[1], "/", 1), "%s does not mount", argv[1]);
    CompareFolder("", argv[2]);
    CHECK(!PHYSFS_exists("no such file"), "a missing name exists");
    CHECK(firstFolder[0] && PHYSFS_openRead(firstFolder) == NULL &&
              PHYSFS_getLastErrorCode() == PHYSFS_ERR_NOT_A_FILE,
          "the folder %s opened as a file", firstFolder);
    CHECK(PHYSFS_unmount(argv[1]), "%s does not unmount", argv[1]);

    /* From memory: the archiver reads through PhysicsFS's I/O only. */
    bytes = ReadDisk(argv[1], &size);
    {
        int* users = calloc(1, sizeof *users);
        PHYSFS_Io* io = bytes && users ? NewMemoryIo(bytes, size, users) : NULL;
        int mounted = io && PHYSFS_mountIo(io, "memory.vpf", "/mem", 1);
        CHECK(mounted, "the pack does not mount from memory");
        if (mounted) {
            mountPrefix = 4;
            CompareFolder("mem", argv[2]);
            CHECK(PHYSFS_unmount("memory.vpf"), "the memory pack does not unmount");
            /* The archiver destroyed the Io and every duplicate: the bytes are gone. */
        } else if (io) {
            io->destroy(io);
        } else {
            free(bytes);
            free(users);
        }
    }

    CHECK(!PHYSFS_mount(argv[3], "/", 1) && PHYSFS_getLastErrorCode() == PHYSFS_ERR_CORRUPT,
          "the damaged pack did not fail as corrupt");
    CHECK(PHYSFS_mount(argv[4], "/bad", 1), "%s does not mount", argv[4]);
    {
        char bad[4096];
        snprintf(bad, sizeof bad, "bad/%s", argv[5]);
        CHECK(PHYSFS_openRead(bad) == NULL && PHYSFS_getLastErrorCode() == PHYSFS_ERR_CORRUPT,
              "the damaged file %s opened", bad);
    }
    {
        char text[16] = {0};
        PHYSFS_File* good = PHYSFS_openRead("bad/good.txt");
        CHECK(good && PHYSFS_readBytes(good, text, sizeof text) == 5 &&
                  strcmp(text, "good\n") == 0,
              "the good file beside a damaged one does not read");
        if (good)
            PHYSFS_close(good);
    }
    /* This program's own file is no pack. */
    CHECK(!PHYSFS_mount(argv[0], "/", 1) && PHYSFS_getLastErrorCode() == PHYSFS_ERR_UNSUPPORTED,
          "a file that is no pack mounted");
    PHYSFS_deinit();
    printf("walk_pack: %ld files and %ld folders compared, twice\n", files, folders);
    return failures ? 1 : 0;
}
