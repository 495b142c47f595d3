/* tovelink/physfs.h - pack files (.vpf) as PhysicsFS archives.
 *
 * A program that reads its data through PhysicsFS 3 mounts a pack as it
 * mounts a zip file, once the pack archiver is registered:
 *
 *     #include <physfs.h>
 *     #include <tovelink/physfs.h>
 *
 *     PHYSFS_init(argv[0]);
 *     if (!tovelink_physfs_register())
 *         fail(PHYSFS_getErrorByCode(PHYSFS_getLastErrorCode()));
 *     PHYSFS_mount("game.vpf", "/", 1);
 *     PHYSFS_File* f = PHYSFS_openRead("levels/one.map");
 *
 * What the archiver gives:
 *   - a file is taken for a pack by its first bytes ("VHPF" and version
 *     "2.10" or "1.03"), whatever its name; the archiver is registered for
 *     the extension "VPF", which PhysicsFS tries first for *.vpf files;
 *   - every folder and file of the pack, with its original size; names are
 *     found in any letter case, as the pack finds them (A-Z and a-z are one,
 *     other bytes must match), and listed as stored; a stored name holding
 *     "\" or "/" (as in converted 1.03 packs) is a path of folders, as when
 *     the pack is extracted, and a name that would not be extracted (".."
 *     or an empty folder name in it) is not shown;
 *   - files open for reading: read, seek, tell and length. A stored file is
 *     read in place from the pack; a coded one (gzip, LZRW3-A) is decoded
 *     whole when it is opened, and the bytes live until it is closed;
 *   - modification times are the pack file's when PhysicsFS names a file
 *     the archiver can look at, else -1;
 *   - anything that would write (writing, removing, making folders, a pack
 *     handed to the archiver as the write folder) fails with
 *     PHYSFS_ERR_READ_ONLY. Never name a pack in PHYSFS_setWriteDir():
 *     PhysicsFS 3.0.2 opens a file named there for writing, which empties
 *     it, before any archiver is asked.
 * A pack whose directory is damaged does not mount (PHYSFS_ERR_CORRUPT); a
 * file whose stored bytes are damaged does not open (PHYSFS_ERR_CORRUPT).
 *
 * Link with -ltovelink-physfs -lphysfs (pkg-config: tovelink-physfs; CMake:
 * find_package(Tovelink) gives Tovelink::tovelink_physfs).
 */
#ifndef TOVELINK_PHYSFS_H
#define TOVELINK_PHYSFS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Registers the pack archiver with PhysicsFS. Call it after PHYSFS_init()
 * (and again after a PHYSFS_deinit() and a new PHYSFS_init()). Returns
 * non-zero on success; zero on failure, with PhysicsFS's error code set:
 * PHYSFS_ERR_NOT_INITIALIZED before PHYSFS_init(), PHYSFS_ERR_DUPLICATE
 * when it is registered already. */
int tovelink_physfs_register(void);

#ifdef __cplusplus
}
#endif

#endif /* TOVELINK_PHYSFS_H */
