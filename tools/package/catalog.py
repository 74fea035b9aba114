"""The catalog file (.cat) of a driver package, made on Linux.

A catalog is a PKCS #7 signed message whose content is a certificate trust
list (CTL) of the package's files: a version-2 catalog, one member per file,
identified by the file's SHA-256 hash, with the attributes Windows reads.
This module makes the unsigned message; osslsigncode signs it
(tools/package.sh). The format and its sources are in docs/driver-package.md.

    catalog.py --out TesZEPDIO.cat.unsigned --hwid PCI\\VEN_1D5A&DEV_2400 ... FILE...
"""

import argparse
import datetime
import hashlib
import os
import struct
import sys

from asn1crypto import core

OID_SIGNED_DATA = '1.2.840.113549.1.7.2'
OID_CTL = '1.3.6.1.4.1.311.10.1'
OID_CATALOG_LIST = '1.3.6.1.4.1.311.12.1.1'
OID_CATALOG_LIST_MEMBER2 = '1.3.6.1.4.1.311.12.1.3'  # version-2 members, SHA-256
OID_CAT_NAMEVALUE = '1.3.6.1.4.1.311.12.2.1'
OID_CAT_MEMBERINFO = '1.3.6.1.4.1.311.12.2.2'
OID_CAT_MEMBERINFO2 = '1.3.6.1.4.1.311.12.2.3'
OID_SPC_INDIRECT_DATA = '1.3.6.1.4.1.311.2.1.4'
OID_SPC_PE_IMAGE_DATA = '1.3.6.1.4.1.311.2.1.15'
OID_SPC_CAB_DATA = '1.3.6.1.4.1.311.2.1.25'  # what a flat file's member names
OID_SHA256 = '2.16.840.1.101.3.4.2.1'
# CAT_MEMBERINFO2 as version-2 catalogs carry it: one context-specific [2]
# with no content.
MEMBERINFO2 = b'\x82\x00'

# The subject types of mssip.h, as CAT_MEMBERINFO names them.
SUBJECT_PE_IMAGE = '{C689AAB8-8E78-11D0-8C47-00C04FC295EE}'
SUBJECT_FLAT_IMAGE = '{DE351A42-8E59-11D0-8C47-00C04FC295EE}'
MEMBER_CERT_VERSION = 0x200

# CRYPTCAT_ATTR_NAMEASCII | CRYPTCAT_ATTR_DATAASCII | CRYPTCAT_ATTR_AUTHENTICATED
ATTR_FLAGS = 0x10010001
OBSOLETE = '<<<Obsolete>>>'
WINDOWS_10_X64 = '_v100_X64'  # the catalog's "OS" attribute
OS_ATTR_WINDOWS_10 = '2:10.0'  # a member's "OSAttr": NT platform, version 10.0


class AlgorithmIdentifier(core.Sequence):
    _fields = [('algorithm', core.ObjectIdentifier), ('parameters', core.Any, {'optional': True})]


class SpcString(core.Choice):
    _alternatives = [('unicode', core.BMPString, {'implicit': 0}),
                     ('ascii', core.IA5String, {'implicit': 1})]


class SpcLink(core.Choice):
    _alternatives = [('url', core.IA5String, {'implicit': 0}),
                     ('moniker', core.Any, {'implicit': 1}),
                     ('file', SpcString, {'explicit': 2})]


class SpcPeImageData(core.Sequence):
    _fields = [('flags', core.BitString), ('file', SpcLink, {'explicit': 0, 'optional': True})]


class SpcAttributeTypeAndOptionalValue(core.Sequence):
    _fields = [('type', core.ObjectIdentifier), ('value', core.Any, {'optional': True})]


class DigestInfo(core.Sequence):
    _fields = [('digest_algorithm', AlgorithmIdentifier), ('digest', core.OctetString)]


class SpcIndirectDataContent(core.Sequence):
    _fields = [('data', SpcAttributeTypeAndOptionalValue), ('message_digest', DigestInfo)]


class CatNameValue(core.Sequence):
    _fields = [('tag', core.BMPString), ('flags', core.Integer), ('value', core.OctetString)]


class CatMemberInfo(core.Sequence):
    _fields = [('subject_guid', core.BMPString), ('cert_version', core.Integer)]


class SetOfAny(core.SetOf):
    _child_spec = core.Any


class Attribute(core.Sequence):
    _fields = [('type', core.ObjectIdentifier), ('values', SetOfAny)]


class Attributes(core.SetOf):
    _child_spec = Attribute


class TrustedSubject(core.Sequence):
    _fields = [('subject_identifier', core.OctetString), ('subject_attributes', Attributes)]


class TrustedSubjects(core.SequenceOf):
    _child_spec = TrustedSubject


class Extension(core.Sequence):
    _fields = [('extn_id', core.ObjectIdentifier), ('extn_value', core.OctetString)]


class Extensions(core.SequenceOf):
    _child_spec = Extension


class SubjectUsage(core.SequenceOf):
    _child_spec = core.ObjectIdentifier


class CertificateTrustList(core.Sequence):
    """The CTL as catalogs carry it: version 1 (left out), no sequence number
    and no next update."""
    _fields = [
        ('subject_usage', SubjectUsage),
        ('list_identifier', core.OctetString),
        ('this_update', core.UTCTime),
        ('subject_algorithm', AlgorithmIdentifier),
        ('trusted_subjects', TrustedSubjects),
        ('extensions', Extensions, {'explicit': 0, 'optional': True}),
    ]


class ContentInfo(core.Sequence):
    """PKCS #7 content: the content itself under an explicit [0], not wrapped
    in an octet string. asn1crypto reads such an Any but writes it without
    its tag, so the messages are written by content_info()."""
    _fields = [('content_type', core.ObjectIdentifier), ('content', core.Any, {'explicit': 0, 'optional': True})]


class SetOfAlgorithms(core.SetOf):
    _child_spec = AlgorithmIdentifier


def der(tag, contents):
    length = len(contents)
    if length < 0x80:
        header = bytes([tag, length])
    else:
        size = length.to_bytes((length.bit_length() + 7) // 8, 'big')
        header = bytes([tag, 0x80 | len(size)]) + size
    return header + contents


def der_contents(encoded):
    """The contents of one DER element (its value without tag and length)."""
    length = encoded[1]
    start = 2
    if length & 0x80:
        start = 2 + (length & 0x7F)
        length = int.from_bytes(encoded[2:start], 'big')
    return encoded[start:start + length]


def content_info(content_type, content):
    return der(0x30, core.ObjectIdentifier(content_type).dump() + der(0xA0, content))


def algorithm(oid):
    return AlgorithmIdentifier({'algorithm': oid, 'parameters': core.Null()})


# --------------------------------------------------------------------------
# File hashes


def is_pe_image(data):
    if len(data) < 0x40 or data[:2] != b'MZ':
        return False
    offset = struct.unpack_from('<I', data, 0x3C)[0]
    return offset + 24 <= len(data) and data[offset:offset + 4] == b'PE\0\0'


def pe_image_hash(data, algorithm='sha256'):
    """The Authenticode hash of a PE image: the whole file but its checksum,
    its certificate-table directory entry and the certificate table; an
    unsigned file is hashed as if padded with zeros to 8 bytes, as it is
    once a signature is appended."""
    if not is_pe_image(data):
        raise ValueError('not a PE image')
    optional = struct.unpack_from('<I', data, 0x3C)[0] + 24
    magic = struct.unpack_from('<H', data, optional)[0]
    if magic not in (0x10B, 0x20B):
        raise ValueError('unknown optional header magic 0x%X' % magic)
    checksum = optional + 64
    directories = optional + (112 if magic == 0x20B else 96)
    directory_count = struct.unpack_from('<I', data, directories - 4)[0]
    if directory_count < 5:
        raise ValueError('no certificate-table directory entry')
    security = directories + 4 * 8
    table_offset, table_size = struct.unpack_from('<II', data, security)
    end = table_offset if table_size else len(data)
    if end < security + 8 or end > len(data):
        raise ValueError('certificate table outside the file')
    digest = hashlib.new(algorithm)
    digest.update(data[:checksum])
    digest.update(data[checksum + 4:security])
    digest.update(data[security + 8:end])
    if not table_size and len(data) % 8:
        digest.update(b'\0' * (8 - len(data) % 8))
    return digest.digest()


def flat_hash(data, algorithm='sha256'):
    return hashlib.new(algorithm, data).digest()


# --------------------------------------------------------------------------
# The catalog


def name_value(tag, text):
    """A CAT_NAMEVALUE: a tag and a text, stored as UTF-16LE with its NUL."""
    return CatNameValue({'tag': tag, 'flags': ATTR_FLAGS, 'value': (text + '\0').encode('utf-16-le')})


def attribute(oid, value):
    return Attribute({'type': oid, 'values': [core.Any.load(value.dump())]})


def obsolete_link():
    return SpcLink(name='file', value=SpcString(name='unicode', value=OBSOLETE))


def indirect_data(digest, pe):
    if pe:
        data = SpcAttributeTypeAndOptionalValue({
            'type': OID_SPC_PE_IMAGE_DATA,
            'value': core.Any.load(SpcPeImageData({'flags': (), 'file': obsolete_link()}).dump()),
        })
    else:
        data = SpcAttributeTypeAndOptionalValue({
            'type': OID_SPC_CAB_DATA,
            'value': core.Any.load(obsolete_link().dump()),
        })
    return SpcIndirectDataContent({
        'data': data,
        'message_digest': DigestInfo({'digest_algorithm': algorithm(OID_SHA256), 'digest': digest}),
    })


def member(name, data):
    """A version-2 member: identified by the file's SHA-256 hash itself, the
    member information of version 2 and, for readers of version-1 members
    (Wine's wintrust), that of version 1: the subject type and 0x200."""
    pe = is_pe_image(data)
    digest = pe_image_hash(data) if pe else flat_hash(data)
    subject = SUBJECT_PE_IMAGE if pe else SUBJECT_FLAT_IMAGE
    attributes = [
        attribute(OID_CAT_NAMEVALUE, name_value('File', name.lower())),
        attribute(OID_CAT_NAMEVALUE, name_value('OSAttr', OS_ATTR_WINDOWS_10)),
        Attribute({'type': OID_CAT_MEMBERINFO2, 'values': [core.Any.load(MEMBERINFO2)]}),
        attribute(OID_CAT_MEMBERINFO, CatMemberInfo({'subject_guid': subject, 'cert_version': MEMBER_CERT_VERSION})),
        attribute(OID_SPC_INDIRECT_DATA, indirect_data(digest, pe)),
    ]
    return TrustedSubject({'subject_identifier': digest, 'subject_attributes': attributes})


def catalog_attributes(hardware_ids):
    values = [name_value('OS', WINDOWS_10_X64)]
    values += [name_value('HWID%d' % (i + 1), hwid.lower()) for i, hwid in enumerate(hardware_ids)]
    return Extensions([Extension({'extn_id': OID_CAT_NAMEVALUE, 'extn_value': v.dump()}) for v in values])


def make_catalog(files, hardware_ids, when, list_identifier):
    """The unsigned catalog of `files` ((name, bytes) pairs), as DER."""
    members = sorted((member(name, data) for name, data in files),
                     key=lambda m: m['subject_identifier'].native)
    ctl = CertificateTrustList({
        'subject_usage': [OID_CATALOG_LIST],
        'list_identifier': list_identifier,
        'this_update': when,
        'subject_algorithm': algorithm(OID_CATALOG_LIST_MEMBER2),
        'trusted_subjects': members,
        'extensions': catalog_attributes(hardware_ids),
    })
    # A PKCS #7 SignedData (version 1) of no signer yet: osslsigncode signs it.
    signed = der(0x30, core.Integer(1).dump() + SetOfAlgorithms([algorithm(OID_SHA256)]).dump() +
                 content_info(OID_CTL, ctl.dump()) + SetOfAny([]).dump())
    return content_info(OID_SIGNED_DATA, signed)


def read_catalog(der):
    """The CTL of a catalog, signed or not (for checks)."""
    outer = ContentInfo.load(der)
    if outer['content_type'].dotted != OID_SIGNED_DATA:
        raise ValueError('not a PKCS #7 signed message')
    # Only the content is parsed: the signer's fields are osslsigncode's.
    signed = core.Sequence.load(der_contents(outer['content'].dump()))
    inner = ContentInfo.load(signed[2].dump())
    if inner['content_type'].dotted != OID_CTL:
        raise ValueError('the signed content is not a certificate trust list')
    return CertificateTrustList.load(der_contents(inner['content'].dump()))


def main(argv):
    parser = argparse.ArgumentParser(description='Makes the unsigned catalog of a driver package.')
    parser.add_argument('--out', required=True)
    parser.add_argument('--hwid', action='append', default=[], help='a hardware ID the package installs on')
    parser.add_argument('--time', help='the catalog time, seconds since 1970 (default: the newest file)')
    parser.add_argument('files', nargs='+')
    args = parser.parse_args(argv)
    files = [(os.path.basename(path), open(path, 'rb').read()) for path in args.files]
    stamp = int(args.time) if args.time else int(max(os.path.getmtime(p) for p in args.files))
    when = datetime.datetime.fromtimestamp(stamp, datetime.timezone.utc)
    # The list identifier tells catalogs apart; the same package makes the
    # same one.
    identity = hashlib.sha256(b''.join(sorted(flat_hash(data) for _, data in files))).digest()[:16]
    with open(args.out, 'wb') as out:
        out.write(make_catalog(files, args.hwid, when, identity))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
