"""The driver package's tools: the INF maker, the INF check and the catalog.

Run by ctest (tests/CMakeLists.txt) with Debian's Python:
    /usr/bin/python3 -m unittest discover -s tests/package
"""

import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
sys.path.insert(0, os.path.join(ROOT, 'tools', 'package'))

import catalog  # noqa: E402
import inf  # noqa: E402
import infcheck  # noqa: E402

TEMPLATE = open(os.path.join(ROOT, 'driver', 'TesZEPDIO.inf.in')).read()


def shipped_inf(models=None):
    return inf.make_inf(TEMPLATE, models or dict(inf.DEFAULT_MODELS), '12/07/2026,1.0.77.0')


def a_pe_image():
    """A PE image from the cross toolchain (the build needs it anyway)."""
    found = sorted(glob.glob('/usr/lib/gcc/x86_64-w64-mingw32/*/libgcc_s_seh-1.dll') +
                   glob.glob('/usr/lib/gcc/x86_64-w64-mingw32/*/libstdc++-6.dll'))
    if not found:
        raise unittest.SkipTest('no mingw-w64 DLL on this machine (tools/install-deps.sh installs one)')
    return open(found[0], 'rb').read()


class InfCheckTest(unittest.TestCase):
    def test_shipped_inf_passes(self):
        self.assertEqual(infcheck.check(shipped_inf()), [])

    # Each row breaks the shipped INF in one way; the check must refuse it
    # by the rule named.
    BROKEN = [
        ('no signature', r'Signature   = "\$WINDOWS NT\$"\r\n', '', 'version'),
        ('a Windows 95 signature', r'"\$WINDOWS NT\$"', '"$Windows 95$"', 'version'),
        ('no class GUID', r'ClassGuid   = {553b0586-9cbe-4b45-88c0-88e588689a6c}\r\n', '', 'version'),
        ('a class GUID that is none', r'{553b0586-9cbe-4b45-88c0-88e588689a6c}', '{553b0586}', 'version'),
        ('no driver version', r'DriverVer   = 12/07/2026,1.0.77.0\r\n', '', 'version'),
        ('month 13', r'12/07/2026,1.0.77.0', '13/07/2026,1.0.77.0', 'driver-ver'),
        ('a version part too big', r'12/07/2026,1.0.77.0', '12/07/2026,1.0.77777.0', 'driver-ver'),
        ('no catalog', r'CatalogFile = TesZEPDIO.cat\r\n', '', '1233'),
        ('no lockdown', r'PnpLockdown = 1', 'PnpLockdown = 0', 'pnp-lockdown'),
        ('Microsoft as provider', r'Provider           = "Tessaron"', 'Provider = "Microsoft"', '1204'),
        ('a string never defined', r'DisplayName   = %ServiceName%', 'DisplayName   = %NoSuchString%', '1235'),
        ('both DefaultInstall and Manufacturer', r'\[Strings\]', '[DefaultInstall]\r\nCopyFiles = Driver_Files\r\n\r\n[Strings]', '1212'),
        ('a copied file not in SourceDisksFiles', r'TesZEPDIOConfig.cpl = 1\r\n', '', '1230'),
        ('a file on a disk not named', r'TesZEPDIO.sys       = 1', 'TesZEPDIO.sys = 2', '1230'),
        ('a copy list that is not there', r'CopyFiles = Driver_Files, Applet_Files', 'CopyFiles = Driver_Files, Other_Files', '1203'),
        ('a service section that is not there', r'0x00000002, Model24_Service', '0x00000002, Model25_Service', '1203'),
        ('a service without its binary', r'(\[Model24_Service\](?:\r\n[^\[]*?))ServiceBinary = %13%\\TesZEPDIO.sys\r\n', r'\1', 'service'),
        ('a service binary never copied', r'(\[Model24_Service\](?:\r\n[^\[]*?))ServiceBinary = %13%\\TesZEPDIO.sys', r'\1ServiceBinary = %13%\\Other.sys', 'service'),
        ('a service binary in another directory', r'(\[Model24_Service\](?:\r\n[^\[]*?))ServiceBinary = %13%', r'\1ServiceBinary = %12%', 'service'),
        ('a service without start type', r'(\[Model22_Service\](?:\r\n[^\[]*?))StartType     = 3\r\n', r'\1', 'service'),
        ('a driver started automatically', r'(\[Model22_Service\](?:\r\n[^\[]*?))StartType     = 3', r'\1StartType = 2', 'kernel-service'),
        ('a driver that is no kernel driver', r'(\[Model22_Service\](?:\r\n[^\[]*?))ServiceType   = 1', r'\1ServiceType = 16', 'kernel-service'),
        ('a device with no associated service', r'TESZEPDIOS, 0x00000002, Model0_Service', 'TESZEPDIOS, 0, Model0_Service', '1296'),
        ('a file to the disk root', r'Applet_Files = 16425', 'Applet_Files = 24', 'dirid'),
        ('a file to Program Files', r'Driver_Files = 13', 'Driver_Files = 16422\r\nOther = 16409', 'dirid'),
        ('a global key of our own', r'"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cpls"', r'"SOFTWARE\\Tessaron\\Cpls"', 'registry'),
        ('a per-user key', r'HKLM,"SOFTWARE\\Microsoft', r'HKCU,"SOFTWARE\\Microsoft', 'registry'),
        ('the service key written directly', r'HKR,,DeviceType,0x00010001,24', r'HKLM,"SYSTEM\\CurrentControlSet\\Services\\TESZEPDIOS",DeviceType,0x00010001,24', '1221'),
    ]

    def test_broken_infs_are_refused(self):
        good = shipped_inf()
        for what, pattern, replacement, rule in self.BROKEN:
            with self.subTest(what):
                broken, count = re.subn(pattern, replacement, good, count=1)
                self.assertEqual(count, 1, 'the row does not apply to the shipped INF')
                rules = {r for r, _ in infcheck.check(broken)}
                self.assertIn(rule, rules)

    def test_package_directory_must_hold_the_files(self):
        with tempfile.TemporaryDirectory() as directory:
            for name in ('TesZEPDIO.sys', 'TesZEPDIO.cat'):
                open(os.path.join(directory, name), 'wb').close()
            faults = infcheck.check(shipped_inf(), directory)
            self.assertEqual(faults, [('package-file', 'TesZEPDIOConfig.cpl is not in the package beside the INF')])

    def test_continued_lines_and_quoted_commas(self):
        text = shipped_inf().replace('HKR,,DeviceType,0x00010001,24', 'HKR,,DeviceType, \\\r\n 0x00010001,24')
        self.assertEqual(infcheck.check(text), [])
        parsed = infcheck.Inf('[A]\r\nx = "a,b", c ; "d,e"\r\n')
        self.assertEqual(parsed.value('A', 'X'), ['a,b', 'c'])


class InfMakerTest(unittest.TestCase):
    def test_one_model_line_and_device_type_per_model(self):
        models = {0: r'Root\Board_0', 24: r'PCI\VEN_ABCD&DEV_0024'}
        text = shipped_inf(models)
        parsed = infcheck.Inf(text)
        lines = [fields for _, _, fields, _ in parsed.lines('Boards.NTamd64')]
        self.assertEqual(lines, [['Model0', r'Root\Board_0'], ['Model24', r'PCI\VEN_ABCD&DEV_0024']])
        self.assertEqual(parsed.lines('Model24_DeviceType')[0][3], 'HKR,,DeviceType,0x00010001,24')
        # A latched board has its log configuration; a PCI board none.
        self.assertEqual(parsed.value('Model0', 'LogConfig'), ['Latched_Factory', 'Latched_Jumpers'])
        self.assertIsNone(parsed.value('Model24', 'LogConfig'))
        self.assertEqual(infcheck.check(text), [])
        self.assertNotIn('@', re.sub(r'%\d+%|@\d|\d@', '', text))
        self.assertIn('\r\n', text)

    def test_applet_registration_is_in_the_32_bit_view(self):
        line = infcheck.Inf(shipped_inf()).lines('Applet_AddReg')[0][3]
        flags = int(infcheck.split_fields(line)[3], 16)
        self.assertTrue(flags & 0x4000, 'FLG_ADDREG_32BITKEY')
        self.assertIn(r'%16425%\TesZEPDIOConfig.cpl', line)

    REFUSED_MODELS = [
        ('no hardware ID', '24'),
        ('no code', '=PCI\\VEN_1D5A&DEV_2400'),
        ('a latched board with a PCI ID', '5=PCI\\VEN_1D5A&DEV_0500'),
        ('a PCI board with a root ID', '24=Root\\Board'),
        ('an ID of no known form', '24=USB\\VID_1234&PID_5678'),
        ('a code past 32 bits', '4294967296=PCI\\VEN_1D5A&DEV_2400'),
    ]

    def test_model_arguments_refused(self):
        for what, text in self.REFUSED_MODELS:
            with self.subTest(what):
                with self.assertRaises(inf.argparse.ArgumentTypeError):
                    inf.parse_model(text)

    def test_models_replace_the_bench_defaults(self):
        self.assertEqual(inf.models_from([]), inf.DEFAULT_MODELS)
        given = [inf.parse_model('22=PCI\\VEN_1234&DEV_5678&SUBSYS_00011234')]
        self.assertEqual(inf.models_from(given), {22: 'PCI\\VEN_1234&DEV_5678&SUBSYS_00011234'})
        with self.assertRaises(inf.argparse.ArgumentTypeError):
            inf.models_from(given + [inf.parse_model('24=pci\\ven_1234&dev_5678&subsys_00011234')])


class CatalogTest(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.directory)
        self.pe = a_pe_image()
        self.inf = shipped_inf().encode('ascii')

    def path(self, name, data):
        path = os.path.join(self.directory, name)
        with open(path, 'wb') as out:
            out.write(data)
        return path

    def osslsigncode(self, *args):
        return subprocess.run(['osslsigncode'] + list(args), capture_output=True, text=True)

    def signing_pair(self):
        key, cert = self.path('key.pem', b''), self.path('cert.pem', b'')
        subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '2', '-subj', '/CN=test',
                        '-keyout', key, '-out', cert], check=True, capture_output=True)
        return cert, key

    def test_pe_hash_is_the_one_osslsigncode_signs(self):
        cert, key = self.signing_pair()
        unsigned = self.path('image.dll', self.pe)
        signed = os.path.join(self.directory, 'signed.dll')
        self.assertEqual(self.osslsigncode('sign', '-certs', cert, '-key', key, '-h', 'sha1',
                                           '-in', unsigned, '-out', signed).returncode, 0)
        report = self.osslsigncode('verify', '-in', signed, '-CAfile', cert).stdout
        digest = re.search(r'Calculated message digest\s*:\s*([0-9A-F]+)', report).group(1)
        self.assertEqual(catalog.pe_image_hash(self.pe).hex().upper(), digest)
        # The signature leaves the hash as it was.
        self.assertEqual(catalog.pe_image_hash(open(signed, 'rb').read()).hex().upper(), digest)
        self.assertNotEqual(catalog.pe_image_hash(self.pe), catalog.flat_hash(self.pe))

    def test_members_and_attributes(self):
        der = catalog.make_catalog([('TesZEPDIO.inf', self.inf), ('Image.DLL', self.pe)],
                                   [r'PCI\VEN_1D5A&DEV_2400'], catalog.datetime.datetime(2026, 12, 7,
                                   tzinfo=catalog.datetime.timezone.utc), b'\x01' * 16)
        ctl = catalog.read_catalog(der)
        self.assertEqual(ctl['subject_usage'].native, [catalog.OID_CATALOG_LIST])
        self.assertEqual(ctl['subject_algorithm']['algorithm'].dotted, catalog.OID_CATALOG_LIST_MEMBER)
        expected = {
            catalog.flat_hash(self.inf): ('teszepdio.inf', catalog.SUBJECT_FLAT_IMAGE, catalog.OID_SPC_CAB_DATA),
            catalog.pe_image_hash(self.pe): ('image.dll', catalog.SUBJECT_PE_IMAGE, catalog.OID_SPC_PE_IMAGE_DATA),
        }
        tags = [m['subject_identifier'].native for m in ctl['trusted_subjects']]
        self.assertEqual(tags, sorted(tags))
        for member in ctl['trusted_subjects']:
            values = {}
            for attribute in member['subject_attributes']:
                value = attribute['values'][0].dump()
                if attribute['type'].dotted == catalog.OID_CAT_NAMEVALUE:
                    pair = catalog.CatNameValue.load(value)
                    self.assertEqual(pair['flags'].native, catalog.ATTR_FLAGS)
                    values[pair['tag'].native] = pair['value'].native.decode('utf-16-le')
                elif attribute['type'].dotted == catalog.OID_CAT_MEMBERINFO:
                    values['subject'] = catalog.CatMemberInfo.load(value)['subject_guid'].native
                elif attribute['type'].dotted == catalog.OID_SPC_INDIRECT_DATA:
                    data = catalog.SpcIndirectDataContent.load(value)
                    values['type'] = data['data']['type'].dotted
                    values['digest'] = data['message_digest']['digest'].native
            digest = values['digest']
            name, subject, data_type = expected.pop(digest)
            self.assertEqual(member['subject_identifier'].native, (digest.hex().upper() + '\0').encode('utf-16-le'))
            self.assertEqual((values['File'], values['OSAttr'], values['subject'], values['type']),
                             (name + '\0', catalog.OS_ATTR_WINDOWS_10 + '\0', subject, data_type))
        self.assertEqual(expected, {})
        attributes = {}
        for extension in ctl['extensions']:
            pair = catalog.CatNameValue.load(extension['extn_value'].native)
            attributes[pair['tag'].native] = pair['value'].native.decode('utf-16-le')
        self.assertEqual(attributes, {'OS': catalog.WINDOWS_10_X64 + '\0', 'HWID1': 'pci\\ven_1d5a&dev_2400\0'})

    def test_osslsigncode_signs_it_and_finds_each_image(self):
        cert, key = self.signing_pair()
        image = self.path('image.dll', self.pe)
        unsigned = self.path('unsigned.cat', catalog.make_catalog(
            [('image.dll', self.pe)], [], catalog.datetime.datetime(2026, 12, 7, tzinfo=catalog.datetime.timezone.utc),
            b'\x02' * 16))
        signed = os.path.join(self.directory, 'signed.cat')
        self.assertEqual(self.osslsigncode('sign', '-certs', cert, '-key', key, '-h', 'sha256',
                                           '-in', unsigned, '-out', signed).returncode, 0)
        self.assertEqual(len(catalog.read_catalog(open(signed, 'rb').read())['trusted_subjects']), 1)
        found = self.osslsigncode('verify', '-CAfile', cert, '-catalog', signed, '-in', image)
        self.assertIn('Succeeded', found.stdout)
        changed = bytearray(self.pe)
        changed[len(changed) // 2] ^= 1
        missing = self.osslsigncode('verify', '-CAfile', cert, '-catalog', signed,
                                    '-in', self.path('changed.dll', bytes(changed)))
        self.assertNotIn('Succeeded', missing.stdout)


if __name__ == '__main__':
    unittest.main()
