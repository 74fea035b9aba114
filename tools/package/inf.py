"""The shipped INFs, made from the templates in package/: the driver package
of the PCI boards (TesZEPDIO.inf), the one of the latched ISA-style boards
(TesZEPDIOLatched.inf), both from package/TesZEPDIO.inf.in, and the applet's
software component (TesZEPDIOApplet.inf), each in a folder of its own.

    inf.py --out build/package [--driver-ver 12/07/2026,1.0.123.0]
           [--model 24=PCI\\VEN_xxxx&DEV_yyyy ...]
    inf.py --print-version        the package version, w.x.y.z (the MSI's)

Without --model the packages install on the bench's boards
(DEFAULT_MODELS); with it, on exactly the models given. A package without
models is not made. --out also gets models.txt: "CODE HARDWARE_ID PACKAGE"
a line.
"""

import argparse
import datetime
import os
import re
import subprocess
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
TEMPLATES = os.path.join(ROOT, 'package')

# The bench's hardware IDs. The bench's PCI board (model 24) is
# PCI\VEN_1D5A&DEV_2400 (platform/kernel/host_kernel.h); the other PCI models
# take the device ID of their code, and the latched boards a root-enumerated
# ID of their code. The boards' real IDs come with --model.
DEFAULT_MODELS = {
    0: r'Root\TesZEPDIO_0',
    1: r'Root\TesZEPDIO_1',
    2: r'Root\TesZEPDIO_2',
    3: r'Root\TesZEPDIO_3',
    4: r'Root\TesZEPDIO_4',
    21: r'PCI\VEN_1D5A&DEV_2100',
    22: r'PCI\VEN_1D5A&DEV_2200',
    23: r'PCI\VEN_1D5A&DEV_2300',
    24: r'PCI\VEN_1D5A&DEV_2400',
}

HIGHEST_LATCHED = 20  # codes 0 to 20: latched ISA-style boards, not Plug and Play

PCI_PACKAGE = 'TesZEPDIO'
LATCHED_PACKAGE = 'TesZEPDIOLatched'
APPLET_PACKAGE = 'TesZEPDIOApplet'


def package_version():
    """The version of every package the build makes, and its date: the
    version of the file VERSION, which the images' version resources carry
    too, and the date of the commit built (today outside a git tree). The
    INFs' DriverVer, the applet component's SoftwareVersion and the MSI's
    ProductVersion all take it from here."""
    with open(os.path.join(ROOT, 'VERSION')) as source:
        version = source.readline().strip()
    if not re.match(r'^\d+\.\d+\.\d+\.\d+$', version):
        raise SystemExit('VERSION must hold a.b.c.d, not "%s"' % version)
    try:
        date = subprocess.run(['git', 'log', '-1', '--format=%cd', '--date=format:%m/%d/%Y'], cwd=ROOT,
                              capture_output=True, text=True, check=True).stdout.strip()
        if date:
            return date, version
    except (OSError, subprocess.CalledProcessError):
        pass
    return datetime.datetime.now(datetime.timezone.utc).strftime('%m/%d/%Y'), version


def layout_name(code):
    if code == 22 or code == 24:
        return 'layout %d' % code
    return 'general layout'


def model_sections(code):
    name = 'Model%d' % code
    latched = code <= HIGHEST_LATCHED
    kind = 'a latched ISA-style board, installed by hand' if latched else 'a PCI board'
    lines = ['; Model %d: %s, %s.' % (code, kind, layout_name(code)), '[%s]' % name, 'CopyFiles = Driver_Files']
    if latched:
        lines.append('LogConfig = Latched_Factory, Latched_Jumpers')
    lines += [
        '',
        '[%s.HW]' % name,
        'AddReg = Device_AddReg, %s_AddReg' % name,
        '',
        '[%s_AddReg]' % name,
        'HKR,,DeviceType,0x00010001,%d' % code,
        '',
        '[%s.Services]' % name,
        'AddService = TESZEPDIOS, 0x00000002, Driver_Service, Driver_EventLog',
        '',
        '[%s.Components]' % name,
        'AddComponent = TesZEPDIOConfig, , Applet_Component',
        '',
    ]
    return lines


# The latched boards' log configurations (the latched INF only).
LOG_CONFIGS = """
; A latched board's ports and interrupt. The first configuration is the
; board's factory setting; the second lets the technician enter any other
; setting of its jumpers (a 32-port block on a 32-port boundary, one of the
; ISA interrupts).
[Latched_Factory]
ConfigPriority = HARDRECONFIG
IOConfig       = E000-E01F(ffff::)
IRQConfig      = 11

[Latched_Jumpers]
ConfigPriority = HARDRECONFIG
IOConfig       = 20@100-FFFF%FFE0(ffff::)
IRQConfig      = 3,4,5,7,9,10,11,12,14,15
"""


def device_name(code):
    if code <= HIGHEST_LATCHED:
        return 'ZEP DIO board, model %d (ISA, not Plug and Play)' % code
    return 'ZEP DIO board, model %d (PCI)' % code


def fill(template, values):
    text = template
    for marker, value in values:
        if marker not in text:
            raise ValueError('the template has no ' + marker)
        text = text.replace(marker, value)
    # Windows reads an INF without a byte-order mark as the system's ANSI code
    # page; the text is ASCII, with CR LF line ends.
    return text.replace('\r\n', '\n').replace('\n', '\r\n')


def make_inf(template, models, driver_ver, package=None):
    """A boards' INF: the PCI package's, or the latched one's when `package`
    is LATCHED_PACKAGE (by default, the one the models belong to)."""
    codes = sorted(models)
    if package is None:
        package = LATCHED_PACKAGE if codes and codes[0] <= HIGHEST_LATCHED else PCI_PACKAGE
    latched = package == LATCHED_PACKAGE
    sections = []
    for code in codes:
        sections += model_sections(code)
    title = ('the driver package of the latched ISA-style ZEP DIO boards' if latched
             else 'the driver package of the PCI ZEP DIO boards')
    return fill(template, [
        ('@INF_NAME@', package + '.inf'),
        ('@PACKAGE_TITLE@', title),
        ('@DRIVERVER@', driver_ver),
        ('@CATALOG@', package + '.cat'),
        ('@MODEL_LINES@', '\n'.join('%%Model%d.Name%% = Model%d, %s' % (c, c, models[c]) for c in codes)),
        ('@LOG_CONFIGS@', LOG_CONFIGS if latched else ''),
        ('@MODEL_SECTIONS@', '\n'.join(sections)),
        ('@MODEL_STRINGS@', '\n'.join('Model%d.Name = "%s"' % (c, device_name(c)) for c in codes)),
    ])


def make_applet_inf(template, driver_ver):
    return fill(template, [('@DRIVERVER@', driver_ver), ('@SOFTWARE_VERSION@', driver_ver.split(',')[1])])


def split_models(models):
    """The models of each boards' package: (PCI models, latched models)."""
    pci = {c: h for c, h in models.items() if c > HIGHEST_LATCHED}
    latched = {c: h for c, h in models.items() if c <= HIGHEST_LATCHED}
    return pci, latched


HARDWARE_ID = re.compile(r'^(PCI\\VEN_[0-9A-F]{4}&DEV_[0-9A-F]{4}(&SUBSYS_[0-9A-F]{8})?(&REV_[0-9A-F]{2})?'
                         r'|Root\\[A-Za-z0-9_]+|\*[A-Z]{3}[0-9A-F]{4})$', re.IGNORECASE)


def parse_model(text):
    """"24=PCI\\VEN_1D5A&DEV_2400" -> (24, the ID)."""
    code, sep, hardware_id = text.partition('=')
    if not sep or not code.strip().isdigit():
        raise argparse.ArgumentTypeError('expected CODE=HARDWARE_ID, got "%s"' % text)
    code = int(code)
    if code > 0xFFFFFFFF:
        raise argparse.ArgumentTypeError('model code %d does not fit in 32 bits' % code)
    hardware_id = hardware_id.strip()
    if not HARDWARE_ID.match(hardware_id):
        raise argparse.ArgumentTypeError(
            'hardware ID "%s" of model %d is none of PCI\\VEN_xxxx&DEV_yyyy[&SUBSYS_...][&REV_..], '
            'Root\\NAME or *PNPxxxx' % (hardware_id, code))
    if (code <= HIGHEST_LATCHED) == hardware_id.upper().startswith('PCI\\'):
        raise argparse.ArgumentTypeError(
            'model %d is a %s board: hardware ID "%s" does not fit' %
            (code, 'latched ISA-style' if code <= HIGHEST_LATCHED else 'PCI', hardware_id))
    return code, hardware_id


def models_from(arguments):
    models = {}
    for code, hardware_id in arguments:
        if code in models:
            raise argparse.ArgumentTypeError('model %d given twice' % code)
        if hardware_id.upper() in (h.upper() for h in models.values()):
            raise argparse.ArgumentTypeError('hardware ID "%s" given for two models' % hardware_id)
        models[code] = hardware_id
    return models or dict(DEFAULT_MODELS)


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'w', newline='') as out:
        out.write(text)


def main(argv):
    parser = argparse.ArgumentParser(description='Makes the shipped INFs from their templates.')
    parser.add_argument('--out', help='the folder that gets a folder per package and models.txt')
    parser.add_argument('--driver-ver', help='MM/DD/YYYY,a.b.c.d (default: the build\'s, package_version)')
    parser.add_argument('--model', type=parse_model, action='append', default=[],
                        metavar='CODE=HARDWARE_ID', help='a board model and its hardware ID (repeatable)')
    parser.add_argument('--print-version', action='store_true', help='print the package version and stop')
    args = parser.parse_args(argv)
    date, version = package_version()
    if args.print_version:
        print(version)
        return 0
    if not args.out:
        parser.error('--out is required')
    try:
        models = models_from(args.model)
    except argparse.ArgumentTypeError as error:
        parser.error(str(error))
    driver_ver = args.driver_ver or '%s,%s' % (date, version)
    if not re.match(r'^\d\d/\d\d/\d{4},\d+\.\d+\.\d+\.\d+$', driver_ver):
        parser.error('--driver-ver must read MM/DD/YYYY,a.b.c.d')
    with open(os.path.join(TEMPLATES, 'TesZEPDIO.inf.in')) as source:
        template = source.read()
    listed = []
    for package, chosen in zip((PCI_PACKAGE, LATCHED_PACKAGE), split_models(models)):
        if chosen:
            write(os.path.join(args.out, package, package + '.inf'), make_inf(template, chosen, driver_ver, package))
            listed += ['%d %s %s\n' % (code, chosen[code], package) for code in sorted(chosen)]
    with open(os.path.join(TEMPLATES, 'TesZEPDIOApplet.inf.in')) as source:
        write(os.path.join(args.out, APPLET_PACKAGE, APPLET_PACKAGE + '.inf'), make_applet_inf(source.read(), driver_ver))
    with open(os.path.join(args.out, 'models.txt'), 'w') as out:
        out.write(''.join(listed))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
