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



def read(path, mode='r'):
    with open(path, mode) as source:
        return source.read()


TEMPLATE = read(os.path.join(ROOT, 'package', 'TesZEPDIO.inf.in'))
APPLET_TEMPLATE = read(os.path.join(ROOT, 'package', 'TesZEPDIOApplet.inf.in'))
DRIVER_VER = '12/07/2026,1.0.77.0'


def shipped_inf(package='pci', models=None):
    """One of the three shipped INFs: 'pci', 'latched' or 'applet'."""
    if package == 'applet':
        return inf.make_applet_inf(APPLET_TEMPLATE, DRIVER_VER)
    pci, latched = inf.split_models(models or dict(inf.DEFAULT_MODELS))
    if package == 'pci':
        return inf.make_inf(TEMPLATE, pci, DRIVER_VER, inf.PCI_PACKAGE)
    return inf.make_inf(TEMPLATE, latched, DRIVER_VER, inf.LATCHED_PACKAGE)


def a_pe_image():
    """A PE image from the cross toolchain (the build needs it anyway)."""
    found = sorted(glob.glob('/usr/lib/gcc/x86_64-w64-mingw32/*/libgcc_s_seh-1.dll') +
                   glob.glob('/usr/lib/gcc/x86_64-w64-mingw32/*/libstdc++-6.dll'))
    if not found:
        raise unittest.SkipTest('no mingw-w64 DLL on this machine (tools/install-deps.sh installs one)')
    return read(found[0], 'rb')


# A service section of its own for one model, as the INFs before the
# per-device model had them: the model's code in the service key.
def own_service(code):
    return (r'(\[Model%d\.Services\]\r\nAddService = TESZEPDIOS, 0x00000002, )Driver_Service' % code,
            r'\1Model%d_Service\r\n\r\n[Model%d_Service]\r\nServiceType = 1\r\nStartType = 3\r\n'
            r'ErrorControl = 1\r\nServiceBinary = %%13%%\\TesZEPDIO.sys\r\nAddReg = Model%d_Code\r\n\r\n'
            r'[Model%d_Code]\r\nHKR,,DeviceType,0x00010001,%d' % (code, code, code, code, code))


class InfCheckTest(unittest.TestCase):
    # The mode each INF passes, and the one it must fail: the PCI boards'
    # package is a Windows Driver (/w); the latched boards' log configuration
    # makes theirs a desktop package (/h); the applet's software of type 1 is
    # desktop-only.
    def test_each_inf_passes_its_mode(self):
        for package, passes, fails in (('pci', 'w', None), ('latched', 'h', 'u'), ('applet', 'h', 'u')):
            with self.subTest(package):
                text = shipped_inf(package)
                for mode in infcheck.MODES[:infcheck.MODES.index(passes) + 1]:
                    self.assertEqual(infcheck.check(text, mode=mode), [], mode)
                if fails:
                    self.assertNotEqual(infcheck.check(text, mode=fails), [])

    # Each row breaks a shipped INF in one way (one substitution or several);
    # the check in the mode given must refuse it by the rule named.
    BROKEN = [
        ('no signature', 'pci', 'h', [(r'Signature   = "\$WINDOWS NT\$"\r\n', '')], 'version'),
        ('a Windows 95 signature', 'pci', 'h', [(r'"\$WINDOWS NT\$"', '"$Windows 95$"')], 'version'),
        ('no class GUID', 'pci', 'h', [(r'ClassGuid   = \{4d36e97d[^\r]*\r\n', '')], 'version'),
        ('a class GUID that is none', 'pci', 'h', [(r'\{4d36e97d-e325-11ce-bfc1-08002be10318\}', '{4d36e97d}')], 'version'),
        ('a class name too long', 'pci', 'h', [(r'Class       = System', 'Class = ABoardClassNameOfMoreThanThirtyTwo')], 'class-name'),
        ('no driver version', 'pci', 'h', [(r'DriverVer   = 12/07/2026,1.0.77.0\r\n', '')], 'version'),
        ('month 13', 'pci', 'h', [(r'12/07/2026,1.0.77.0', '13/07/2026,1.0.77.0')], 'driver-ver'),
        ('a version part too big', 'pci', 'h', [(r'12/07/2026,1.0.77.0', '12/07/2026,1.0.77777.0')], 'driver-ver'),
        ('no catalog', 'pci', 'h', [(r'CatalogFile = TesZEPDIO.cat\r\n', '')], '1233'),
        ('no lockdown', 'pci', 'h', [(r'PnpLockdown = 1', 'PnpLockdown = 0')], 'pnp-lockdown'),
        ('Microsoft as provider', 'pci', 'h', [(r'Provider           = "Tessaron"', 'Provider = "Microsoft"')], '1204'),
        ('a string never defined', 'pci', 'h', [(r'DisplayName   = %ServiceName%', 'DisplayName   = %NoSuchString%')], '1235'),
        ('both DefaultInstall and Manufacturer', 'pci', 'h',
         [(r'\[Strings\]', '[DefaultInstall]\r\nCopyFiles = Driver_Files\r\n\r\n[Strings]')], '1212'),
        ('a copied file not in SourceDisksFiles', 'pci', 'h', [(r'TesZEPDIO.sys = 1\r\n', '')], '1230'),
        ('a file on a disk not named', 'pci', 'h', [(r'TesZEPDIO.sys = 1', 'TesZEPDIO.sys = 2')], '1230'),
        ('a copy list that is not there', 'pci', 'h', [(r'CopyFiles = Driver_Files', 'CopyFiles = Other_Files')], '1203'),
        ('a service section that is not there', 'pci', 'h', [(r'0x00000002, Driver_Service', '0x00000002, Other_Service')], '1203'),
        ('an event log section that is not there', 'pci', 'w', [(r'Driver_Service, Driver_EventLog', 'Driver_Service, Other_EventLog')], '1203'),
        ('an event log without the message table', 'latched', 'h', [(r'IoLogMsg.dll;%13%\\TesZEPDIO.sys', 'IoLogMsg.dll')], 'event-log'),
        ('an event log without its kinds of entry', 'pci', 'w', [(r'HKR,,TypesSupported,0x00010001,7\r\n', '')], 'event-log'),
        ('a service without its binary', 'pci', 'h', [(r'ServiceBinary = %13%\\TesZEPDIO.sys\r\n', '')], 'service'),
        ('a service binary never copied', 'pci', 'h', [(r'ServiceBinary = %13%\\TesZEPDIO.sys', r'ServiceBinary = %13%\\Other.sys')], 'service'),
        ('a service binary in another directory', 'pci', 'h', [(r'ServiceBinary = %13%', 'ServiceBinary = %12%')], 'service'),
        ('a service without start type', 'pci', 'h', [(r'StartType     = 3\r\n', '')], 'service'),
        ('a driver started automatically', 'pci', 'h', [(r'StartType     = 3', 'StartType = 2')], 'kernel-service'),
        ('a driver that is no kernel driver', 'pci', 'h', [(r'ServiceType   = 1', 'ServiceType = 16')], 'kernel-service'),
        ('a device with no associated service', 'pci', 'h',
         [(r'AddService = TESZEPDIOS, 0x00000002, Driver_Service', 'AddService = TESZEPDIOS, 0, Driver_Service')], '1296'),
        ('the service key written directly', 'pci', 'h',
         [(r'HKR,,DeviceType,0x00010001,24', r'HKLM,"SYSTEM\\CurrentControlSet\\Services\\TESZEPDIOS",DeviceType,0x00010001,24')], '1221'),
        ('a file renamed in the driver store', 'pci', 'h', [(r'\[Driver_Files\]\r\nTesZEPDIO.sys', '[Driver_Files]\r\nTesZEPDIO.sys, Other.sys\r\nOther.sys\r\nX')], '1100'),
        ('a class installer for the System class', 'pci', 'h',
         [(r'\[Manufacturer\]', '[ClassInstall32]\r\nAddReg = Class_AddReg\r\n\r\n[Class_AddReg]\r\nHKR,,,,"Boards"\r\n\r\n[Manufacturer]')], '1285'),
        ('two sources for one file', 'pci', 'h',
         [(r'\[Driver_Files\]\r\nTesZEPDIO.sys', '[Driver_Files]\r\nTesZEPDIO.sys\r\n\r\n[Other_Files]\r\nTesZEPDIO.sys, Other.sys'),
          (r'(\[Model22\]\r\nCopyFiles = Driver_Files)', r'\1, Other_Files'), (r'TesZEPDIO.sys = 1', 'TesZEPDIO.sys = 1\r\nOther.sys = 1'),
          (r'Driver_Files = 13', 'Driver_Files = 13\r\nOther_Files = 13')], '1330'),
        ('one global value set twice', 'latched', 'h',
         [(r'(\[Model0_AddReg\]\r\n)', r'\1HKLM,"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",Zep,,"a"\r\n'),
          (r'(\[Model1_AddReg\]\r\n)', r'\1HKLM,"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",Zep,,"b"\r\n')], '1331'),
        ('the model in the service key, per model', 'pci', 'h', [own_service(22), own_service(24)], '1332'),
        ('a service section of its own for one model', 'pci', 'h', [own_service(24)], '1333'),
        ('a per-user key', 'latched', 'h', [(r'(\[Model0_AddReg\]\r\n)', r'\1HKCU,"SOFTWARE\\Tessaron",Zep,,"a"\r\n')], 'registry'),
        ('a global key of our own', 'latched', 'h', [(r'(\[Model0_AddReg\]\r\n)', r'\1HKLM,"SOFTWARE\\Tessaron",Zep,,"a"\r\n')], 'registry'),
        ('a file to the disk root', 'latched', 'h', [(r'Driver_Files = 13', 'Driver_Files = 24')], 'dirid'),
        ('a log configuration in a universal INF', 'latched', 'u', [], '1300'),
        ('a registry deletion in a universal INF', 'pci', 'u', [(r'(\[Model24\]\r\n)', r'\1DelReg = Model24_AddReg\r\n')], '1300'),
        ('a co-installer', 'pci', 'u', [(r'(\[Device_AddReg\]\r\n)', r'\1HKR,,CoInstallers32,0x00010000,"co.dll"\r\n')], '1303'),
        ('a global key in a universal INF', 'pci', 'u',
         [(r'(\[Model24_AddReg\]\r\n)', r'\1HKLM,"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",Zep,,"a"\r\n')], '1304'),
        ('a file to SysWOW64 by its DIRID', 'pci', 'u', [(r'Driver_Files = 13', 'Driver_Files = 16425')], '1306'),
        ('a file to System32 in a Windows Driver', 'pci', 'w', [(r'Driver_Files = 13', 'Driver_Files = 11')], 'isolation-files'),
        ('a COM key in a Windows Driver', 'pci', 'w', [(r'(\[Model24_AddReg\]\r\n)', r'\1HKCR,"CLSID\\{00000000-0000-0000-0000-000000000001}",,,"a"\r\n')], 'isolation-registry'),
        ('a component without its section', 'pci', 'h', [(r'TesZEPDIOConfig, , Applet_Component', 'TesZEPDIOConfig, , Other_Component')], '1203'),
        ('a component without IDs', 'pci', 'h', [(r'ComponentIDs = TesZEPDIOConfig\r\n', '')], 'component'),
        ('software without a type', 'applet', 'h', [(r'SoftwareType    = 1\r\n', '')], 'software'),
        ('software not in the driver store', 'applet', 'h', [(r'Applet_Files = 13', 'Applet_Files = 11')], 'software'),
        ('software without a version', 'applet', 'h', [(r'SoftwareVersion = 1.0.77.0\r\n', '')], 'software'),
        ('software of type 1 in a device INF', 'applet', 'h',
         [(r'Class       = SoftwareComponent', 'Class = System'), (r'\{5c4c3332-344d-483c-8739-259e934c9cc8\}', '{4d36e97d-e325-11ce-bfc1-08002be10318}')],
         'software-class'),
        ('software of type 1 in a universal INF', 'applet', 'u', [], 'software-desktop'),
        ('a component INF that is not universal', 'applet', 'h', [(r'(\[Applet_Install\]\r\n)', r'\1DelFiles = Applet_Files\r\n')], '1300'),
    ]

    def test_broken_infs_are_refused(self):
        for what, package, mode, substitutions, rule in self.BROKEN:
            with self.subTest(what):
                broken = shipped_inf(package)
                for pattern, replacement in substitutions:
                    broken, count = re.subn(pattern, replacement, broken, count=1)
                    self.assertEqual(count, 1, 'the row does not apply to the shipped INF: ' + pattern)
                rules = {r for r, _ in infcheck.check(broken, mode=mode)}
                self.assertIn(rule, rules)

    def test_every_rule_has_a_broken_inf(self):
        self.assertEqual(set(infcheck.SOURCES) - {row[-1] for row in self.BROKEN} - {'package-file'}, set())

    def test_package_directory_must_hold_the_files(self):
        with tempfile.TemporaryDirectory() as directory:
            open(os.path.join(directory, 'TesZEPDIO.cat'), 'wb').close()
            faults = infcheck.check(shipped_inf(), directory)
            self.assertEqual(faults, [('package-file', 'TesZEPDIO.sys is not in the package beside the INF')])

    def test_continued_lines_and_quoted_commas(self):
        text = shipped_inf().replace('HKR,,DeviceType,0x00010001,24', 'HKR,,DeviceType, \\\r\n 0x00010001,24')
        self.assertEqual(infcheck.check(text, mode='w'), [])
        parsed = infcheck.Inf('[A]\r\nx = "a,b", c ; "d,e"\r\n')
        self.assertEqual(parsed.value('A', 'X'), ['a,b', 'c'])


class InfMakerTest(unittest.TestCase):
    # Each model's code goes to its device's hardware key; every model
    # shares the one service section and names the applet's component.
    def test_one_model_line_and_device_type_per_model(self):
        models = {0: r'Root\Board_0', 24: r'PCI\VEN_ABCD&DEV_0024'}
        for package, code, hardware_id in (('pci', 24, models[24]), ('latched', 0, models[0])):
            with self.subTest(package):
                text = shipped_inf(package, models)
                parsed = infcheck.Inf(text)
                lines = [fields for _, _, fields, _ in parsed.lines('Boards.NTamd64')]
                self.assertEqual(lines, [['Model%d' % code, hardware_id]])
                self.assertEqual(parsed.lines('Model%d_AddReg' % code)[0][3], 'HKR,,DeviceType,0x00010001,%d' % code)
                self.assertEqual(parsed.value('Model%d.HW' % code, 'AddReg'), ['Device_AddReg', 'Model%d_AddReg' % code])
                self.assertEqual(parsed.value('Model%d.Services' % code, 'AddService'),
                                 ['TESZEPDIOS', '0x00000002', 'Driver_Service', 'Driver_EventLog'])
                self.assertEqual(parsed.value('Model%d.Components' % code, 'AddComponent'),
                                 ['TesZEPDIOConfig', '', 'Applet_Component'])
                # A latched board has its log configuration; a PCI board none.
                self.assertEqual(parsed.value('Model%d' % code, 'LogConfig'),
                                 ['Latched_Factory', 'Latched_Jumpers'] if code == 0 else None)
                self.assertEqual(parsed.has('Latched_Factory'), code == 0)
                self.assertEqual(parsed.value('Version', 'CatalogFile'),
                                 ['TesZEPDIOLatched.cat' if code == 0 else 'TesZEPDIO.cat'])
                self.assertNotIn('@', re.sub(r'%\d+%|@\d|\d@', '', text))
                self.assertIn('\r\n', text)
        component = infcheck.Inf(shipped_inf('applet'))
        self.assertEqual([f for _, _, f, _ in component.lines('Applet.NTamd64')], [['Applet_Install', 'SWC\\TesZEPDIOConfig']])
        self.assertEqual(component.value('Applet_Software', 'SoftwareVersion'), ['1.0.77.0'])

    def test_the_packages_and_models_list(self):
        with tempfile.TemporaryDirectory() as directory:
            self.assertEqual(inf.main(['--out', directory, '--driver-ver', DRIVER_VER, '--model', '24=PCI\\VEN_ABCD&DEV_0024']), 0)
            self.assertEqual(sorted(os.listdir(directory)), ['TesZEPDIO', 'TesZEPDIOApplet', 'models.txt'])
            self.assertEqual(read(os.path.join(directory, 'models.txt')), '24 PCI\\VEN_ABCD&DEV_0024 TesZEPDIO\n')
            self.assertEqual(infcheck.check(read(os.path.join(directory, 'TesZEPDIO', 'TesZEPDIO.inf')), mode='w'), [])

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
        self.assertEqual(self.osslsigncode('sign', '-certs', cert, '-key', key, '-h', 'sha256',
                                           '-in', unsigned, '-out', signed).returncode, 0)
        report = self.osslsigncode('verify', '-in', signed, '-CAfile', cert).stdout
        digest = re.search(r'Calculated message digest\s*:\s*([0-9A-F]+)', report).group(1)
        self.assertEqual(catalog.pe_image_hash(self.pe).hex().upper(), digest)
        # The signature leaves the hash as it was.
        self.assertEqual(catalog.pe_image_hash(read(signed, 'rb')).hex().upper(), digest)
        self.assertNotEqual(catalog.pe_image_hash(self.pe), catalog.flat_hash(self.pe))

    def test_members_and_attributes(self):
        der = catalog.make_catalog([('TesZEPDIO.inf', self.inf), ('Image.DLL', self.pe)],
                                   [r'PCI\VEN_1D5A&DEV_2400'], catalog.datetime.datetime(2026, 12, 7,
                                   tzinfo=catalog.datetime.timezone.utc), b'\x01' * 16)
        ctl = catalog.read_catalog(der)
        self.assertEqual(ctl['subject_usage'].native, [catalog.OID_CATALOG_LIST])
        self.assertEqual(ctl['subject_algorithm']['algorithm'].dotted, catalog.OID_CATALOG_LIST_MEMBER2)
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
                    info = catalog.CatMemberInfo.load(value)
                    values['subject'] = (info['subject_guid'].native, info['cert_version'].native)
                elif attribute['type'].dotted == catalog.OID_CAT_MEMBERINFO2:
                    values['info2'] = value
                elif attribute['type'].dotted == catalog.OID_SPC_INDIRECT_DATA:
                    data = catalog.SpcIndirectDataContent.load(value)
                    values['type'] = data['data']['type'].dotted
                    values['algorithm'] = data['message_digest']['digest_algorithm']['algorithm'].dotted
                    values['digest'] = data['message_digest']['digest'].native
            digest = values['digest']
            name, subject, data_type = expected.pop(digest)
            self.assertEqual(member['subject_identifier'].native, digest)
            self.assertEqual((values['File'], values['OSAttr'], values['subject'], values['type'], values['info2'],
                              values['algorithm'], len(digest)),
                             (name + '\0', catalog.OS_ATTR_WINDOWS_10 + '\0', (subject, 0x200), data_type, b'\x82\x00',
                              catalog.OID_SHA256, 32))
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
        self.assertEqual(len(catalog.read_catalog(read(signed, 'rb'))['trusted_subjects']), 1)
        found = self.osslsigncode('verify', '-CAfile', cert, '-catalog', signed, '-in', image)
        self.assertIn('Succeeded', found.stdout)
        changed = bytearray(self.pe)
        changed[len(changed) // 2] ^= 1
        missing = self.osslsigncode('verify', '-CAfile', cert, '-catalog', signed,
                                    '-in', self.path('changed.dll', bytes(changed)))
        self.assertNotIn('Succeeded', missing.stdout)


if __name__ == '__main__':
    unittest.main()
