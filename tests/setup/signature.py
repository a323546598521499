"""A PE file's Authenticode signature, for the tests that compare a signed
program with its unsigned build. Signing appends a certificate table,
points the header's certificate-table entry at it and sets the checksum;
nothing else changes. A signature holds the signing time, so two
signatures of the same file differ."""
import pefile

CERTIFICATE_TABLE = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]


def certificate_table(data):
    """(file offset, size) of the certificate table, or None."""
    entry = pefile.PE(data=data, fast_load=True).OPTIONAL_HEADER.DATA_DIRECTORY[CERTIFICATE_TABLE]
    return (entry.VirtualAddress, entry.Size) if entry.Size else None


def without_signature(data):
    """The file as it was before signing, but for its checksum: the
    certificate table cut off, its entry and the checksum zeroed."""
    image = pefile.PE(data=data, fast_load=True)
    entry = image.OPTIONAL_HEADER.DATA_DIRECTORY[CERTIFICATE_TABLE]
    out = bytearray(data[:entry.VirtualAddress] if entry.Size else data)
    checksum = image.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
    out[checksum:checksum + 4] = bytes(4)
    at = entry.get_field_absolute_offset("VirtualAddress")
    out[at:at + 8] = bytes(8)
    return bytes(out)


def same_program(shipped, built):
    """Whether a shipped file is the built one: the same bytes, or, where
    it was signed, the same apart from its signature."""
    return shipped == built or (certificate_table(shipped) is not None
                                and certificate_table(built) is None
                                and without_signature(shipped) == without_signature(built))
