"""Refuses what Windows' INF checker (InfVerif) refuses in the driver packages
of this kind: PnP kernel drivers of a system-defined setup class whose files
stay in the driver store, and the software component that installs their
applet. InfVerif has three modes that matter here (Microsoft Learn, "Running
InfVerif from the command line"):

    /h  what a signature from the hardware portal (WHCP) needs: Windows Desktop
    /u  a universal INF
    /w  a Windows Driver: universal, and the package isolated (driver package
        isolation: files in the driver store, registry through HKR)

    infcheck.py [/h|/u|/w] FILE.inf     (default /h; exit 1 and one line per
                                         fault when refused)

Each rule names its source: an InfVerif error code of "INF Validation Errors
and Warnings" and "InfVerif Error 1330 - 1333", the /h requirements of
"InfVerif /h" (April 2024), or the page of Microsoft's INF reference or
driver guidance that says "must". With the INF's directory the check also
makes sure the package holds every file the INF names.
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
    '1100': 'InfVerif 1100: DriverStore CopyFiles name mismatch (no renaming a file copied to DIRID 13)',
    '1203': 'InfVerif 1203: Section not found',
    '1204': 'InfVerif 1204: Provider cannot be Microsoft',
    '1212': 'InfVerif 1212: Cannot have both [DefaultInstall] and [Manufacturer]',
    '1221': 'InfVerif 1221: Cannot modify services regkey, must use HKR',
    '1230': 'InfVerif 1230: Missing file under [SourceDisksFiles]',
    '1233': 'InfVerif 1233: Missing directive required for signature (CatalogFile)',
    '1235': 'InfVerif 1235: String token not defined in [Strings]',
    '1285': 'InfVerif 1285: Cannot specify [ClassInstall32] section for Microsoft-defined class',
    '1296': 'InfVerif 1296: Specified service not associated with hardware',
    '1300': 'InfVerif 1300/1301 and "Using a Universal INF File": a section or directive a universal INF '
            'cannot have (ClassInstall32, CoInstallers, FactDef, LogConfigOverride; LogConfig, DelReg, '
            'DelFiles, RenFiles, BitReg, DelService, DelProperty, RegisterDlls, UnregisterDlls, ProfileItems, '
            'UpdateInis, UpdateIniFields, Ini2Reg)',
    '1303': 'InfVerif 1303: Found legacy operation defining co-installers',
    '1304': 'InfVerif 1304 and "Using a Universal INF File": a registry root other than HKR (COM under HKCR '
            'or HKLM\\SOFTWARE\\Classes, and Media Foundation transforms, excepted)',
    '1306': 'InfVerif 1306 and "Using a Universal INF File": CopyFiles only to DIRID 11, 12, 13 or '
            '10 with a subdirectory',
    '1330': 'InfVerif 1330 ("InfVerif Error 1330 - 1333"): one destination file copied from different source files',
    '1331': 'InfVerif 1331 ("InfVerif Error 1330 - 1333"): one global registry value set differently by '
            'several sections',
    '1332': 'InfVerif 1332 ("InfVerif Error 1330 - 1333"): one service\'s registry value set differently by '
            'several service sections',
    '1333': 'InfVerif 1333 ("InfVerif Error 1330 - 1333"): one service installed with different configurations',
    'service': 'INF AddService Directive: a service-install section must have ServiceType, StartType, '
               'ErrorControl and ServiceBinary; ServiceBinary names a file CopyFiles transferred',
    'kernel-service': 'INF AddService Directive: a kernel-mode driver has ServiceType 1 and, when not '
                      'needed to boot, StartType 3; StartType 2 is never used for a PnP driver',
    'event-log': 'INF AddService Directive, event-log-install section: its AddReg (HKR, the service\'s key '
                 'under the event log) sets EventMessageFile, REG_EXPAND_SZ, among whose files is the '
                 'service\'s binary that holds the message table, and TypesSupported, a REG_DWORD',
    'dirid': 'InfVerif /h, File Paths: DIRID 13, or one of its listed exceptions, for every [DestinationDirs] entry',
    'registry': 'InfVerif /h, Registry: HKR, or one of its listed HKLM and HKCR exceptions',
    'isolation-files': 'Driver package isolation ("Run from driver store"; InfVerif /w): every file the '
                       'package copies stays in the driver store, DIRID 13',
    'isolation-registry': 'Driver package isolation ("Uses HKR and system-supplied functions"; InfVerif /w): '
                          'registry state only through HKR',
    'component': 'INF AddComponent Directive and INF DDInstall.Components Section: AddComponent = name, '
                 '[flags], section, the section holding ComponentIDs',
    'software': 'INF AddSoftware Directive: SoftwareType is required; type 1 needs SoftwareBinary, copied to '
                'DIRID 13, and SoftwareVersion w.x.y.z (each part at most 65535)',
    'software-class': 'INF AddSoftware Directive: an AddSoftware of type 1 must be used from a component INF '
                      '(Class = SoftwareComponent)',
    'software-desktop': 'INF AddSoftware Directive: "Type 2 is supported in Universal Drivers, Type 1 is '
                        'desktop-only"',
    'package-file': 'Driver packages: every file the INF names is in the package beside it',
}

MODES = ('h', 'u', 'w')

# InfVerif /h (April 2024): DIRID 13 and its exceptions.
ALLOWED_DIRIDS = {13, 10, 11, 12, 23, 51, 52, 55, 16422, 16425, 16426, 16427, 16428,
                  66000, 66001, 66002, 66003, 66004}
# "Using a Universal INF File": 11, 12, 13, and 10 with a subdirectory.
UNIVERSAL_DIRIDS = {11, 12, 13}
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
# "Using a Universal INF File": the global keys a universal INF may write.
UNIVERSAL_HKLM = [r'SOFTWARE\Classes', r'SOFTWARE\Microsoft\Windows Media Foundation',
                  r'SOFTWARE\WOW6432Node\Microsoft\Windows Media Foundation',
                  r'SOFTWARE\WOW3232Node\Microsoft\Windows Media Foundation']
# "Using a Universal INF File": what a universal INF cannot have.
LEGACY_SECTION_SUFFIXES = ('.coinstallers', '.factdef', '.logconfigoverride')
LEGACY_DIRECTIVES = ('logconfig', 'bitreg', 'delfiles', 'delproperty', 'delreg', 'delservice', 'ini2reg',
                     'profileitems', 'registerdlls', 'renfiles', 'unregisterdlls', 'updateinifields', 'updateinis')
# The setup classes Microsoft defines that a board of this kind may take
# ("System-Defined Device Setup Classes Available to Vendors").
MICROSOFT_CLASSES = {
    '{4d36e97d-e325-11ce-bfc1-08002be10318}': 'System',
    '{5c4c3332-344d-483c-8739-259e934c9cc8}': 'SoftwareComponent',
    '{e2f84ce7-8efa-411c-aa69-97454ca4cb57}': 'Extension',
}
SOFTWARE_COMPONENT_CLASS = '{5c4c3332-344d-483c-8739-259e934c9cc8}'
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


def under(key, keys):
    lowered = key.lower()
    return any(lowered == k.lower() or lowered.startswith(k.lower() + '\\') for k in keys)


class Check:
    def __init__(self, inf, directory, mode):
        if mode not in MODES:
            raise ValueError('mode %s is none of /h, /u, /w' % mode)
        self.inf = inf
        self.directory = directory
        self.isolated = mode == 'w'
        # A component INF that installs software must be universal in every mode.
        self.universal = mode in ('u', 'w') or self.has_directive('AddSoftware')
        self.desktop_only_allowed = mode == 'h'
        self.faults = []
        self.copies = {}          # (dirid, subdirectory, file) -> source files
        self.global_values = {}   # (root, key, value name) -> data
        self.service_values = {}  # (service, key, value name) -> data
        self.service_configs = {}  # service -> configurations

    def fault(self, rule, message):
        if (rule, message) not in self.faults:
            self.faults.append((rule, message))

    def has_directive(self, directive):
        return any(key is not None and key.lower() == directive.lower()
                   for _, lines in self.inf.sections.values() for _, key, _, _ in lines)

    def run(self):
        self.version()
        self.strings()
        if self.inf.has('DefaultInstall') and self.inf.has('Manufacturer'):
            self.fault('1212', '[DefaultInstall] and [Manufacturer] both present')
        for section in self.install_sections():
            self.install_section(section)
        self.class_install()
        self.destination_dirs()
        if self.universal:
            self.legacy()
        self.conflicts()
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

    def class_guid(self):
        guid = self.inf.value('Version', 'ClassGuid')
        return guid[0].lower() if guid else ''

    def driver_ver(self, fields):
        match = re.match(r'^(\d\d)/(\d\d)/(\d{4})$', fields[0])
        month, day = (int(match.group(1)), int(match.group(2))) if match else (0, 0)
        if not match or not (1 <= month <= 12 and 1 <= day <= 31):
            self.fault('driver-ver', 'DriverVer date "%s" is not mm/dd/yyyy' % fields[0])
        if len(fields) < 2 or not four_part_version(fields[1]):
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
                    self.add_registry(name)
        if self.inf.has(section + '.HW'):
            for name in self.referenced(section + '.HW', 'AddReg'):
                self.add_registry(name)
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
            self.service(fields[0], fields[2], copied)
            if len(fields) > 3 and fields[3]:
                self.event_log(fields[0], fields[3], fields[2])
        if associated != 1:
            self.fault('1296', '[%s] has %d services associated with the device (SPSVCINST_ASSOCSERVICE), not 1'
                       % (section, associated))
        self.components(section + '.Components')
        self.software(section + '.Software', copied)

    def copy_list(self, section):
        names = []
        dirid, subdirectory = self.destination_of(section)
        for _, key, fields, raw in self.inf.lines(section):
            entry = [f.strip() for f in ([key] + fields if key is not None else fields)]
            name = entry[0]
            if not name:
                continue
            source = entry[1] if len(entry) > 1 and entry[1] else name
            names.append(name)
            self.source_file(source)
            if dirid == 13 and source.lower() != name.lower():
                self.fault('1100', '[%s] copies %s to the driver store as %s' % (section, source, name))
            self.copies.setdefault((dirid, subdirectory.lower(), name.lower()), set()).add(source.lower())
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

    def destination_of(self, copy_section):
        for key in (copy_section, 'DefaultDestDir'):
            entry = self.inf.value('DestinationDirs', key) if self.inf.has('DestinationDirs') else None
            if entry:
                return parse_int(entry[0]), entry[1] if len(entry) > 1 else ''
        return None, ''

    def dirid_of(self, copy_section):
        return self.destination_of(copy_section)[0]

    def service(self, name, section, copied):
        entries = {}
        configuration = []
        for _, key, fields, _ in self.inf.lines(section):
            if key is not None:
                entries[key.lower()] = [self.inf.expand(f) for f in fields]
                if key.lower() != 'addreg':
                    configuration.append((key.lower(), tuple(entries[key.lower()])))
        for key in ('ServiceType', 'StartType', 'ErrorControl', 'ServiceBinary'):
            if key.lower() not in entries:
                self.fault('service', '[%s] has no %s' % (section, key))
        for registry in self.referenced(section, 'AddReg'):
            configuration += self.add_registry(registry, service=name)
        self.service_configs.setdefault(name.lower(), {})[tuple(sorted(configuration))] = section
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

    def event_log(self, service, section, service_section):
        if not self.inf.has(section):
            self.fault('1203', 'AddService %s: event-log-install section [%s] not found' % (service, section))
            return
        written = []
        for registry in self.referenced(section, 'AddReg'):
            written += self.add_registry(registry, service=service + '\\eventlog')
        values = {entry[2]: entry[3:] for entry in written if entry[0] == 'hkr' and len(entry) > 3 and not entry[1]}
        binary = (self.inf.value(service_section, 'ServiceBinary') or [''])[0].lower()
        files = values.get('eventmessagefile', ('', ''))
        if parse_int(files[0] or '0') & 0xFFFF0001 != 0x00020000 or len(files) < 2 or \
                binary not in [f.strip() for f in files[1].split(';')]:
            self.fault('event-log', '[%s] EventMessageFile is not a REG_EXPAND_SZ naming %s' % (section, binary))
        types = values.get('typessupported', ('', ''))
        if parse_int(types[0] or '0') != 0x00010001 or len(types) < 2 or not parse_int(types[1] or '0'):
            self.fault('event-log', '[%s] TypesSupported is not a REG_DWORD of the kinds of entry' % section)

    def add_registry(self, section, service=None):
        """Checks the roots and keys an add-registry section writes; records
        what it writes for the conflict rules. Returns its entries."""
        written = []
        for number, key, fields, raw in self.inf.lines(section):
            fields = [self.inf.expand(f) for f in ([key] + fields if key is not None else fields)]
            root = fields[0].upper()
            subkey = fields[1] if len(fields) > 1 else ''
            value = fields[2] if len(fields) > 2 else ''
            data = tuple(fields[3:])
            written.append(tuple(f.lower() for f in fields))
            if value.lower() == 'coinstallers32' and self.universal:
                self.fault('1303', 'line %d: AddReg defines co-installers' % number)
            if root == 'HKR':
                if service is not None:
                    self.service_values.setdefault((service.lower(), subkey.lower(), value.lower()), {})[data] = section
                continue
            self.global_values.setdefault((root, subkey.lower(), value.lower()), {})[data] = section
            if root == 'HKLM' and re.match(r'^system\\currentcontrolset\\services(\\|$)', subkey.lower()):
                self.fault('1221', 'line %d: %s writes the services key directly' % (number, subkey))
            elif self.isolated:
                self.fault('isolation-registry', 'line %d: %s\\%s is global registry state, not HKR' % (number, root, subkey))
            elif self.universal:
                if not (root == 'HKCR' or (root == 'HKLM' and under(subkey, UNIVERSAL_HKLM))):
                    self.fault('1304', 'line %d: %s\\%s is a registry root other than HKR' % (number, root, subkey))
            elif root == 'HKLM':
                if not under(subkey, ALLOWED_HKLM):
                    self.fault('registry', 'line %d: HKLM\\%s is not a key InfVerif /h allows' % (number, subkey))
            elif root != 'HKCR':
                self.fault('registry', 'line %d: root %s is not HKR' % (number, fields[0]))
        return written

    def components(self, section):
        if not self.inf.has(section):
            return
        for fields in self.inf.values(section, 'AddComponent'):
            if not fields or not fields[0]:
                self.fault('component', '[%s] AddComponent without a component name' % section)
            if len(fields) < 3 or not fields[2]:
                self.fault('component', '[%s] AddComponent %s names no component-install section'
                           % (section, fields[0] if fields else ''))
            elif not self.inf.has(fields[2]):
                self.fault('1203', '[%s] AddComponent: section [%s] not found' % (section, fields[2]))
            elif not self.inf.value(fields[2], 'ComponentIDs'):
                self.fault('component', '[%s] has no ComponentIDs' % fields[2])

    def software(self, section, copied):
        if not self.inf.has(section):
            return
        for fields in self.inf.values(section, 'AddSoftware'):
            if len(fields) < 3 or not self.inf.has(fields[2]):
                self.fault('1203', '[%s] AddSoftware %s: its software-install section is not found'
                           % (section, fields[0] if fields else ''))
                continue
            install = fields[2]
            kind = self.inf.value(install, 'SoftwareType')
            if not kind:
                self.fault('software', '[%s] has no SoftwareType' % install)
                continue
            if parse_int(kind[0]) != 1:
                continue
            if self.class_guid() != SOFTWARE_COMPONENT_CLASS:
                self.fault('software-class', '[%s] installs software of type 1 outside a component INF' % install)
            if not self.desktop_only_allowed:
                self.fault('software-desktop', '[%s] SoftwareType 1 in a universal INF' % install)
            binary = self.inf.value(install, 'SoftwareBinary')
            match = re.match(r'^(?:%13%\\)?([^\\%]+)$', binary[0]) if binary else None
            if not match or copied.get(match.group(1).lower()) != 13:
                self.fault('software', '[%s] SoftwareBinary %s is not a file copied to the driver store (DIRID 13)'
                           % (install, binary[0] if binary else 'missing'))
            version = self.inf.value(install, 'SoftwareVersion')
            if not version or not four_part_version(version[0]):
                self.fault('software', '[%s] SoftwareVersion %s is not w.x.y.z' % (install, version[0] if version else 'missing'))

    def class_install(self):
        section = self.actual('ClassInstall32')
        if not section:
            return
        if self.class_guid() in MICROSOFT_CLASSES:
            self.fault('1285', '[%s] for the Microsoft-defined class %s' % (section, MICROSOFT_CLASSES[self.class_guid()]))
        for name in self.referenced(section, 'AddReg'):
            self.add_registry(name)

    def destination_dirs(self):
        for number, key, fields, _ in self.inf.lines('DestinationDirs'):
            dirid = parse_int(fields[0]) if fields else None
            subdirectory = fields[1] if len(fields) > 1 else ''
            where = 'line %d: [DestinationDirs] %s = %s' % (number, key, ','.join(fields))
            if self.isolated:
                if dirid != 13:
                    self.fault('isolation-files', where + ' is not the driver store (13)')
            elif self.universal:
                if not (dirid in UNIVERSAL_DIRIDS or (dirid == 10 and subdirectory)):
                    self.fault('1306', where + ' is no universal destination')
            elif dirid not in ALLOWED_DIRIDS:
                self.fault('dirid', where + ' is not DIRID 13 or an allowed exception')

    def legacy(self):
        why = ' (a component INF with AddSoftware must be universal: "Using a Component INF File")' \
            if self.desktop_only_allowed else ''
        for lower, (name, lines) in self.inf.sections.items():
            if lower.startswith('classinstall32') or lower.endswith(LEGACY_SECTION_SUFFIXES) or lower == 'defaultinstall':
                self.fault('1300', '[%s] is not valid in a universal INF%s' % (name, why))
            for number, key, _, _ in lines:
                if key is not None and key.lower() in LEGACY_DIRECTIVES:
                    self.fault('1300', 'line %d: %s is not valid in a universal INF%s' % (number, key, why))

    def conflicts(self):
        for (dirid, subdirectory, name), sources in self.copies.items():
            if len(sources) > 1:
                self.fault('1330', '%s (DIRID %s) is copied from %s' % (name, dirid, ', '.join(sorted(sources))))
        for (root, key, value), data in self.global_values.items():
            if len(data) > 1:
                self.fault('1331', '%s\\%s value "%s" is set differently by [%s]'
                           % (root, key, value, '], ['.join(sorted(data.values()))))
        for (service, key, value), data in self.service_values.items():
            if len(data) > 1:
                self.fault('1332', 'service %s: value "%s" is set differently by [%s]'
                           % (service, value or key, '], ['.join(sorted(data.values()))))
        for service, configurations in self.service_configs.items():
            if len(configurations) > 1:
                self.fault('1333', 'service %s is installed differently by [%s]'
                           % (service, '], ['.join(sorted(configurations.values()))))


def four_part_version(text):
    return re.match(r'^\d+(\.\d+){3}$', text) is not None and all(int(p) <= 65535 for p in text.split('.'))


def check(text, directory=None, mode='h'):
    """The faults of an INF in InfVerif's mode `mode` ('h', 'u' or 'w'), as
    (rule, message) pairs; none when it passes."""
    return Check(Inf(text), directory, mode).run()


def main(argv):
    mode = 'h'
    if argv and argv[0] in ('/h', '/u', '/w'):
        mode = argv[0][1]
        argv = argv[1:]
    if len(argv) != 1:
        print('usage: infcheck.py [/h|/u|/w] FILE.inf', file=sys.stderr)
        return 2
    path = argv[0]
    with open(path, encoding='ascii', errors='replace') as source:
        faults = check(source.read(), os.path.dirname(os.path.abspath(path)), mode)
    for rule, message in faults:
        print('%s (/%s): %s [%s]' % (path, mode, message, SOURCES[rule]))
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
