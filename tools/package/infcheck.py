"""Refuses what Windows' INF checker (InfVerif) refuses in a driver package of
this kind: a PnP kernel driver with a new setup class, files in the driver
store and the few global places InfVerif /h still allows.

    infcheck.py TesZEPDIO.inf      (exit 1 and one line per fault when refused)

Each rule names its source: an InfVerif error code of "INF Validation Errors
and Warnings", the /h requirements of "InfVerif /h" (April 2024), or the page
of Microsoft's INF reference that says "must". With the INF's directory the
check also makes sure the package holds every file the INF copies.
"""

import os
import re
import sys

SOURCES = {
    'version': 'INF Version Section: Signature must be $Windows NT$ or $Chicago$; Class, ClassGuid, '
               'Provider and DriverVer are required for a PnP driver',
    'class-name': 'INF Version Section: a new class name is at most 32 characters',
    'driver-ver': 'INF DriverVer Directive: mm/dd/yyyy,w.x.y.z, each part at most 65535',
    'pnp-lockdown': 'INF Version Section: a driver package should set PnpLockDown to 1',
    '1204': 'InfVerif 1204: Provider cannot be Microsoft',
    '1212': 'InfVerif 1212: Cannot have both [DefaultInstall] and [Manufacturer]',
    '1203': 'InfVerif 1203: Section not found',
    '1230': "InfVerif 1230: Missing file under [SourceDisksFiles]",
    '1233': 'InfVerif 1233: Missing directive required for signature (CatalogFile)',
    '1235': 'InfVerif 1235: String token not defined in [Strings]',
    '1221': 'InfVerif 1221: Cannot modify services regkey, must use HKR',
    '1296': 'InfVerif 1296: Specified service not associated with hardware',
    'service': 'INF AddService Directive: a service-install section must have ServiceType, StartType, '
               'ErrorControl and ServiceBinary; ServiceBinary names a file CopyFiles transferred',
    'kernel-service': 'INF AddService Directive: a kernel-mode driver has ServiceType 1 and, when not '
                      'needed to boot, StartType 3; StartType 2 is never used for a PnP driver',
    'dirid': 'InfVerif /h, File Paths: DIRID 13, or one of its listed exceptions, for every [DestinationDirs] entry',
    'registry': 'InfVerif /h, Registry: HKR, or one of its listed HKLM and HKCR exceptions',
    'package-file': 'Driver packages: every file the INF names is in the package beside it',
}

# InfVerif /h (April 2024): DIRID 13 and its exceptions.
ALLOWED_DIRIDS = {13, 10, 11, 12, 23, 51, 52, 55, 16422, 16425, 16426, 16427, 16428,
                  66000, 66001, 66002, 66003, 66004}
# InfVerif /h (April 2024): the global keys still allowed, under HKLM (and HKCR).
ALLOWED_HKLM = [
    r'SYSTEM\CurrentControlSet', r'SOFTWARE\Classes', r'SOFTWARE\Khronos',
    r'SOFTWARE\Microsoft\Analog\Providers', r'SOFTWARE\Microsoft\Cellular\MVSettings\DeviceSpecific\CellUX',
    r'SOFTWARE\Microsoft\Cryptography\Calais\Readers', r'SOFTWARE\Microsoft\Cryptography\Calais\SmartCards',
    r'SOFTWARE\Microsoft\Cryptography\DRM_RNG', r'SOFTWARE\Microsoft\EAPOL',
    r'SOFTWARE\Microsoft\Palm\DelayManipulationDuration',
    r'SOFTWARE\Microsoft\Shell\OEM\QuickActions\ColorProfileQuickAction',
    r'SOFTWARE\Microsoft\Speech_OneCore\AudioInput', r'SOFTWARE\Microsoft\Windows Media Foundation',
    r'SOFTWARE\Microsoft\Windows NT\CurrentVersion\AdaptiveDisplayBrightness',
    r'SOFTWARE\Microsoft\Windows NT\CurrentVersion\drivers.desc',
    r'SOFTWARE\Microsoft\Windows NT\CurrentVersion\Drivers32', r'SOFTWARE\Microsoft\Windows NT\CurrentVersion\ICM',
    r'SOFTWARE\Microsoft\Windows NT\CurrentVersion\OpenGlDrivers',
    r'SOFTWARE\Microsoft\Windows NT\CurrentVersion\Winlogon\Notify\ScCertProp',
    r'SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths', r'SOFTWARE\Microsoft\Windows\CurrentVersion\Audio',
    r'SOFTWARE\Microsoft\Windows\CurrentVersion\Authentication',
    r'SOFTWARE\Microsoft\Windows\CurrentVersion\Control Panel',
    r'SOFTWARE\Microsoft\Windows\CurrentVersion\Controls Folder',
    r'SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer',
    r'SOFTWARE\Microsoft\Windows\CurrentVersion\Reliability\UserDefined',
    r'SOFTWARE\Microsoft\Windows\CurrentVersion\Run', r'SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce',
    r'SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall',
    r'SOFTWARE\Wow6432Node\Microsoft\Windows Media Foundation', r'SOFTWARE\Wow6432Node\Khronos',
    r'SOFTWARE\WowAA32Node\Microsoft\Windows Media Foundation', r'SOFTWARE\WowAA32Node\Khronos',
]
# Directives whose values name sections, in an install section.
SECTION_DIRECTIVES = ('copyfiles', 'addreg', 'delreg', 'bitreg', 'logconfig', 'delfiles', 'renfiles')
PLATFORM_SUFFIXES = ('.ntamd64', '.nt', '')


class Inf:
    """An INF as SetupAPI reads it: sections of lines, each line a key (or
    none) and its comma-separated fields, with %strkey% tokens of [Strings]
    substituted. Section and key names are compared without case."""

    def __init__(self, text):
        self.sections = {}   # lower-case name -> (name, [(line number, key, [fields], raw)])
        self.faults = []
        current = None
        pending = ''
        for number, raw in enumerate(text.splitlines(), 1):
            line = pending + strip_comment(raw)
            pending = ''
            if line.rstrip().endswith('\\') and not line.rstrip().endswith('\\\\'):
                pending = line.rstrip()[:-1]
                continue
            line = line.strip()
            if not line:
                continue
            if line.startswith('['):
                name = line[1:line.index(']')].strip() if ']' in line else line[1:]
                current = self.sections.setdefault(name.lower(), (name, []))[1]
                continue
            if current is None:
                continue
            key, fields = split_line(line)
            current.append((number, key, fields, line))
        self.strings = {}
        for _, key, fields, _ in self.lines('strings'):
            if key is not None:
                self.strings[key.lower()] = fields[0] if fields else ''

    def has(self, section):
        return section.lower() in self.sections

    def lines(self, section):
        return self.sections.get(section.lower(), (section, []))[1]

    def value(self, section, key):
        for _, k, fields, _ in self.lines(section):
            if k is not None and k.lower() == key.lower():
                return [self.expand(f) for f in fields]
        return None

    def values(self, section, key):
        return [[self.expand(f) for f in fields] for _, k, fields, _ in self.lines(section)
                if k is not None and k.lower() == key.lower()]

    def expand(self, field):
        def token(match):
            name = match.group(1)
            if name == '':
                return '%'
            if name.isdigit():
                return match.group(0)  # a DIRID, expanded at install time
            return self.strings.get(name.lower(), match.group(0))
        return re.sub(r'%([^%\s]*)%', token, field)

    def undefined_tokens(self):
        found = []
        for lower, (name, lines) in self.sections.items():
            if lower == 'strings':
                continue
            for number, _, _, raw in lines:
                for token in re.findall(r'%([^%\s,"]*)%', raw):
                    if token and not token.isdigit() and token.lower() not in self.strings:
                        found.append((number, token))
        return found


def unquoted_index(line, char):
    """Where `char` first stands outside double quotes, or -1."""
    quoted = False
    for i, c in enumerate(line):
        if c == '"':
            quoted = not quoted
        elif c == char and not quoted:
            return i
    return -1


def strip_comment(line):
    semicolon = unquoted_index(line, ';')
    return line if semicolon < 0 else line[:semicolon]


def split_fields(text):
    fields, current, quoted = [], '', False
    i = 0
    while i < len(text):
        c = text[i]
        if c == '"':
            if quoted and i + 1 < len(text) and text[i + 1] == '"':
                current += '"'
                i += 1
            else:
                quoted = not quoted
        elif c == ',' and not quoted:
            fields.append(current.strip())
            current = ''
        else:
            current += c
        i += 1
    fields.append(current.strip())
    return fields


def split_line(line):
    equals = unquoted_index(line, '=')
    if equals < 0:
        return None, split_fields(line)
    return line[:equals].strip(), split_fields(line[equals + 1:])


def parse_int(text):
    text = text.strip()
    try:
        return int(text, 16) if text.lower().startswith('0x') else int(text)
    except ValueError:
        return None


class Check:
    def __init__(self, inf, directory):
        self.inf = inf
        self.directory = directory
        self.faults = []

    def fault(self, rule, message):
        if (rule, message) not in self.faults:
            self.faults.append((rule, message))

    def run(self):
        self.version()
        self.strings()
        if self.inf.has('DefaultInstall') and self.inf.has('Manufacturer'):
            self.fault('1212', '[DefaultInstall] and [Manufacturer] both present')
        for section in self.install_sections():
            self.install_section(section)
        self.class_install()
        self.destination_dirs()
        return self.faults

    def version(self):
        inf = self.inf
        if not inf.has('Version'):
            self.fault('version', 'no [Version] section')
            return
        signature = inf.value('Version', 'Signature')
        if not signature or signature[0].lower() not in ('$windows nt$', '$chicago$'):
            self.fault('version', 'Signature is %s, not "$Windows NT$"' % (signature[0] if signature else 'missing'))
        for key in ('Class', 'ClassGuid', 'Provider', 'DriverVer'):
            if not inf.value('Version', key) or not inf.value('Version', key)[0]:
                self.fault('version', 'no %s in [Version]' % key)
        klass = inf.value('Version', 'Class')
        if klass and len(klass[0]) > 32:
            self.fault('class-name', 'Class "%s" is longer than 32 characters' % klass[0])
        guid = inf.value('Version', 'ClassGuid')
        if guid and not re.match(r'^\{[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12}\}$', guid[0]):
            self.fault('version', 'ClassGuid "%s" is not a GUID' % guid[0])
        provider = inf.value('Version', 'Provider')
        if provider and provider[0].strip().lower().startswith('microsoft'):
            self.fault('1204', 'Provider is "%s"' % provider[0])
        driver_ver = inf.value('Version', 'DriverVer')
        if driver_ver and driver_ver[0]:
            self.driver_ver(driver_ver)
        catalog = inf.value('Version', 'CatalogFile')
        if not catalog or not catalog[0]:
            self.fault('1233', 'no CatalogFile in [Version]')
        elif not re.match(r'^[^\\/:]+\.cat$', catalog[0], re.IGNORECASE):
            self.fault('1233', 'CatalogFile "%s" is not a .cat file beside the INF' % catalog[0])
        else:
            self.package_file(catalog[0])
        lockdown = inf.value('Version', 'PnpLockdown')
        if not lockdown or parse_int(lockdown[0]) != 1:
            self.fault('pnp-lockdown', 'PnpLockdown is %s, not 1' % (lockdown[0] if lockdown else 'missing'))

    def driver_ver(self, fields):
        match = re.match(r'^(\d\d)/(\d\d)/(\d{4})$', fields[0])
        month, day = (int(match.group(1)), int(match.group(2))) if match else (0, 0)
        if not match or not (1 <= month <= 12 and 1 <= day <= 31):
            self.fault('driver-ver', 'DriverVer date "%s" is not mm/dd/yyyy' % fields[0])
        if len(fields) < 2 or not re.match(r'^\d+(\.\d+){3}$', fields[1]) or \
                any(int(part) > 65535 for part in fields[1].split('.')):
            self.fault('driver-ver', 'DriverVer version "%s" is not w.x.y.z' % (fields[1] if len(fields) > 1 else ''))

    def strings(self):
        for number, token in self.inf.undefined_tokens():
            self.fault('1235', 'line %d: %%%s%% is not defined in [Strings]' % (number, token))

    def actual(self, base):
        """The section SetupAPI installs for `base`: the most specific
        platform decoration there is."""
        for suffix in PLATFORM_SUFFIXES:
            if self.inf.has(base + suffix):
                return base + suffix
        return None

    def install_sections(self):
        inf = self.inf
        sections = []
        for _, key, fields, _ in inf.lines('Manufacturer'):
            models = [self.inf.expand(f) for f in fields]
            if not models or not models[0]:
                continue
            decorations = models[1:] or ['']
            for decoration in decorations:
                name = models[0] + ('.' + decoration if decoration else '')
                if not inf.has(name):
                    self.fault('1203', 'models section [%s] not found' % name)
                    continue
                for number, _, line_fields, _ in inf.lines(name):
                    install = line_fields[0] if line_fields else ''
                    if len(line_fields) < 2 or not line_fields[1]:
                        self.fault('1203', 'line %d: model without a hardware ID' % number)
                    actual = self.actual(install)
                    if actual is None:
                        self.fault('1203', 'line %d: install section [%s] not found' % (number, install))
                    elif actual not in sections:
                        sections.append(actual)
        return sections

    def referenced(self, section, directive):
        names = []
        for fields in self.inf.values(section, directive):
            for name in fields:
                if name and not name.startswith('@'):
                    if not self.inf.has(name):
                        self.fault('1203', '[%s] %s = %s: section not found' % (section, directive, name))
                    else:
                        names.append(name)
        return names

    def install_section(self, section):
        copied = {}  # file name (lower case) -> DIRID
        for directive in SECTION_DIRECTIVES:
            for name in self.referenced(section, directive):
                if directive == 'copyfiles':
                    for file_name in self.copy_list(name):
                        copied[file_name.lower()] = self.dirid_of(name)
                elif directive == 'addreg':
                    self.add_registry(name, 'install')
        if self.inf.has(section + '.HW'):
            for name in self.referenced(section + '.HW', 'AddReg'):
                self.add_registry(name, 'hardware')
        associated = 0
        services = section + '.Services'
        for fields in self.inf.values(services, 'AddService') if self.inf.has(services) else []:
            flags = parse_int(fields[1]) if len(fields) > 1 and fields[1] else 0
            if flags and flags & 0x2:
                associated += 1
            if len(fields) < 3 or not fields[2]:
                if fields[0]:
                    self.fault('service', '[%s] AddService %s names no service-install section' % (services, fields[0]))
                continue
            if not self.inf.has(fields[2]):
                self.fault('1203', '[%s] AddService %s: section [%s] not found' % (services, fields[0], fields[2]))
                continue
            self.service(fields[2], copied)
        if associated != 1:
            self.fault('1296', '[%s] has %d services associated with the device (SPSVCINST_ASSOCSERVICE), not 1'
                       % (section, associated))

    def copy_list(self, section):
        names = []
        for _, key, fields, raw in self.inf.lines(section):
            name = (key if key is not None else fields[0]).strip()
            if not name:
                continue
            names.append(name)
            self.source_file(name)
        return names

    def source_file(self, name):
        entry = self.inf.value('SourceDisksFiles', name) if self.inf.has('SourceDisksFiles') else None
        if entry is None:
            self.fault('1230', 'file %s is not in [SourceDisksFiles]' % name)
            return
        disk = entry[0] if entry else ''
        if not self.inf.value('SourceDisksNames', disk):
            self.fault('1230', 'file %s is on disk "%s", which [SourceDisksNames] does not name' % (name, disk))
        subdirectory = entry[1] if len(entry) > 1 else ''
        self.package_file(os.path.join(subdirectory.strip('\\'), name) if subdirectory else name)

    def package_file(self, name):
        if self.directory is not None and not os.path.isfile(os.path.join(self.directory, name.replace('\\', '/'))):
            self.fault('package-file', '%s is not in the package beside the INF' % name)

    def dirid_of(self, copy_section):
        for key in (copy_section, 'DefaultDestDir'):
            entry = self.inf.value('DestinationDirs', key) if self.inf.has('DestinationDirs') else None
            if entry:
                return parse_int(entry[0])
        return None

    def service(self, section, copied):
        entries = {}
        for _, key, fields, _ in self.inf.lines(section):
            if key is not None:
                entries[key.lower()] = [self.inf.expand(f) for f in fields]
        for key in ('ServiceType', 'StartType', 'ErrorControl', 'ServiceBinary'):
            if key.lower() not in entries:
                self.fault('service', '[%s] has no %s' % (section, key))
        for name in self.referenced(section, 'AddReg'):
            self.add_registry(name, 'service')
        binary = entries.get('servicebinary', [''])[0]
        if binary:
            match = re.match(r'^%(\d+)%\\(?:.*\\)?([^\\]+)$', binary)
            if not match:
                self.fault('service', '[%s] ServiceBinary "%s" is not %%dirid%%\\file' % (section, binary))
            elif copied.get(match.group(2).lower()) != int(match.group(1)):
                self.fault('service', '[%s] ServiceBinary %s: no CopyFiles of this install section puts %s in '
                           'DIRID %s' % (section, binary, match.group(2), match.group(1)))
        if binary.lower().endswith('.sys'):
            if parse_int(entries.get('servicetype', ['0'])[0]) != 1:
                self.fault('kernel-service', '[%s] ServiceType is not 1 (kernel driver)' % section)
            if parse_int(entries.get('starttype', ['0'])[0]) == 2:
                self.fault('kernel-service', '[%s] StartType 2 (auto start) for a PnP driver' % section)

    def add_registry(self, section, where):
        for number, key, fields, raw in self.inf.lines(section):
            fields = [self.inf.expand(f) for f in ([key] + fields if key is not None else fields)]
            root = fields[0].upper()
            subkey = fields[1] if len(fields) > 1 else ''
            if root == 'HKR':
                continue
            if root == 'HKLM':
                lowered = subkey.lower()
                if re.match(r'^system\\currentcontrolset\\services(\\|$)', lowered):
                    self.fault('1221', 'line %d: %s writes the services key directly' % (number, subkey))
                elif not any(lowered == a.lower() or lowered.startswith(a.lower() + '\\') for a in ALLOWED_HKLM):
                    self.fault('registry', 'line %d: HKLM\\%s is not a key InfVerif /h allows' % (number, subkey))
            elif root != 'HKCR':
                self.fault('registry', 'line %d: root %s is not HKR' % (number, fields[0]))

    def class_install(self):
        section = self.actual('ClassInstall32')
        if section:
            for name in self.referenced(section, 'AddReg'):
                self.add_registry(name, 'class')

    def destination_dirs(self):
        for number, key, fields, _ in self.inf.lines('DestinationDirs'):
            dirid = parse_int(fields[0]) if fields else None
            if dirid not in ALLOWED_DIRIDS:
                self.fault('dirid', 'line %d: [DestinationDirs] %s = %s is not DIRID 13 or an allowed exception'
                           % (number, key, fields[0] if fields else ''))


def check(text, directory=None):
    """The faults of an INF, as (rule, message) pairs; none when it passes."""
    return Check(Inf(text), directory).run()


def main(argv):
    if len(argv) != 1:
        print('usage: infcheck.py FILE.inf', file=sys.stderr)
        return 2
    path = argv[0]
    with open(path, encoding='ascii', errors='replace') as source:
        faults = check(source.read(), os.path.dirname(os.path.abspath(path)))
    for rule, message in faults:
        print('%s: %s [%s]' % (path, message, SOURCES[rule]))
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
