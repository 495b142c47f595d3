#include "reader/PackReader.h"

#include <new>

#include "reader/PackIndex.h"

// Every member forwards to the shared PackIndex. The index pointer is null
// only when the constructor could not allocate one; then the reader behaves
// as one with no pack open and refuses to open any.

namespace {
char emptyName[1] = {0};
}

PackReader::PackReader() : index(new (std::nothrow) tovelink::PackIndex) {}

PackReader::~PackReader() {
    if (index && index->Release())
        delete index;
}

PackReader& PackReader::operator=(const PackReader& other) {
    tovelink::PackIndex* incoming = other.index;
    if (incoming == index)
        return *this;  // self-assignment, or already shared
    if (incoming)
        incoming->AddRef();
    if (index && index->Release())
        delete index;
    index = incoming;
    return *this;
}

bool PackReader::OpenPack(char* path) {
    return index && index->OpenPack(path);
}

void PackReader::ClosePack() {
    if (index)
        index->ClosePack();
}

int PackReader::LoadFile(char* name) {
    return index ? index->LoadFile(name) : -1;
}

bool PackReader::LoadFile(unsigned long i) {
    return index && index->LoadFile(i);
}

bool PackReader::LoadAll() {
    return !index || index->LoadAll();
}

void PackReader::PurgeFile(unsigned long i) {
    if (index)
        index->PurgeFile(i);
}

void PackReader::PurgeAll() {
    if (index)
        index->PurgeAll();
}

unsigned char* PackReader::GetData(char* name) {
    return index ? index->GetData(name) : nullptr;
}

unsigned char* PackReader::GetData(unsigned long i) {
    return index ? index->GetData(i) : nullptr;
}

unsigned long PackReader::GetIndex(char* name) {
    return index ? index->GetIndex(name) : tovelink::PackIndex::kNotFound;
}

char* PackReader::GetName(unsigned long i) {
    return index ? index->GetName(i) : nullptr;
}

void PackReader::CopyData(char* name, unsigned char* buffer, unsigned long* size) {
    if (index) {
        index->CopyData(name, buffer, size);
    } else if (size) {
        *size = 0;
    }
}

void PackReader::CopyData(unsigned long i, unsigned char* buffer, unsigned long* size) {
    if (index) {
        index->CopyData(i, buffer, size);
    } else if (size) {
        *size = 0;
    }
}

unsigned long PackReader::GetNumFiles() {
    return index ? index->GetNumFiles() : 0;
}

unsigned long PackReader::GetFileSize(unsigned long i) {
    return index ? index->GetFileSize(i) : 0;
}

unsigned long PackReader::GetFileSize(char* name) {
    return index ? index->GetFileSize(name) : 0;
}

unsigned long PackReader::GetFilePackedSize(unsigned long i) {
    return index ? index->GetFilePackedSize(i) : 0;
}

unsigned long PackReader::GetFilePackedSize(char* name) {
    return index ? index->GetFilePackedSize(name) : 0;
}

char* PackReader::GetArchiveName() {
    return index ? index->GetArchiveName() : emptyName;
}

static_assert(sizeof(PackReader) == sizeof(void*), "PackReader must stay one pointer in size");
