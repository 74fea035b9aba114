"""The shipped INF, made from driver/TesZEPDIO.inf.in: the driver version and
one model line, with its install sections, per board model.

    inf.py --template driver/TesZEPDIO.inf.in --out TesZEPDIO.inf \\
           --driver-date 12/07/2026 [--model 24=PCI\\VEN_xxxx&DEV_yyyy ...]

DriverVer is the date given and the version of the file VERSION, which the
images' version resources carry too.

Without --model the package installs on the bench's boards (DEFAULT_MODELS);
with it, on exactly the models given.
"""

import argparse
import os
import re
import sys

VERSION_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'VERSION')

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


def layout_name(code):
    if code == 22 or code == 24:
        return 'layout %d' % code
    return 'general layout'


def model_sections(code, hardware_id):
    name = 'Model%d' % code
    latched = code <= HIGHEST_LATCHED
    kind = 'a latched ISA-style board, installed by hand' if latched else 'a PCI board'
    lines = [
        '; Model %d: %s, %s.' % (code, kind, layout_name(code)),
        '[%s]' % name,
        'CopyFiles = Driver_Files, Applet_Files',
        'AddReg    = Applet_AddReg',
    ]
    if latched:
        lines.append('LogConfig = Latched_Factory, Latched_Jumpers')
    lines += [
        '',
        '[%s.HW]' % name,
        'AddReg = Device_AddReg',
        '',
        '[%s.Services]' % name,
        'AddService = TESZEPDIOS, 0x00000002, %s_Service' % name,
        '',
        '[%s_Service]' % name,
        'DisplayName   = %ServiceName%',
        'Description   = %ServiceDescription%',
        'ServiceType   = 1',
        'StartType     = 3',
        'ErrorControl  = 1',
        'ServiceBinary = %13%\\TesZEPDIO.sys',
        'AddReg        = %s_DeviceType' % name,
        '',
        '[%s_DeviceType]' % name,
        'HKR,,DeviceType,0x00010001,%d' % code,
        '',
    ]
    return lines


def device_name(code):
    if code <= HIGHEST_LATCHED:
        return 'ZEP DIO board, model %d (ISA, not Plug and Play)' % code
    return 'ZEP DIO board, model %d (PCI)' % code


def make_inf(template, models, driver_ver):
    codes = sorted(models)
    model_lines = ['%%Model%d.Name%% = Model%d, %s' % (c, c, models[c]) for c in codes]
    sections = []
    for code in codes:
        sections += model_sections(code, models[code])
    strings = ['Model%d.Name = "%s"' % (c, device_name(c)) for c in codes]
    text = template
    for marker, value in (('@DRIVERVER@', driver_ver), ('@MODEL_LINES@', '\n'.join(model_lines)),
                          ('@MODEL_SECTIONS@', '\n'.join(sections)), ('@MODEL_STRINGS@', '\n'.join(strings))):
        if marker not in text:
            raise ValueError('the template has no ' + marker)
        text = text.replace(marker, value)
    # Windows reads an INF without a byte-order mark as the system's ANSI code
    # page; the text is ASCII, with CR LF line ends.
    return text.replace('\r\n', '\n').replace('\n', '\r\n')


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


def main(argv):
    parser = argparse.ArgumentParser(description='Makes the shipped INF from its template.')
    parser.add_argument('--template', required=True)
    parser.add_argument('--out', required=True)
    parser.add_argument('--driver-date', required=True, help='MM/DD/YYYY')
    parser.add_argument('--model', type=parse_model, action='append', default=[],
                        metavar='CODE=HARDWARE_ID', help='a board model and its hardware ID (repeatable)')
    parser.add_argument('--models-out', help='also write the models, "CODE HARDWARE_ID" a line, to this file')
    args = parser.parse_args(argv)
    try:
        models = models_from(args.model)
    except argparse.ArgumentTypeError as error:
        parser.error(str(error))
    if not re.match(r'^\d\d/\d\d/\d{4}$', args.driver_date):
        parser.error('--driver-date must read MM/DD/YYYY')
    with open(VERSION_FILE) as source:
        version = source.readline().strip()
    if not re.match(r'^\d+\.\d+\.\d+\.\d+$', version):
        parser.error('%s must hold a.b.c.d, not "%s"' % (VERSION_FILE, version))
    with open(args.template) as source:
        text = make_inf(source.read(), models, '%s,%s' % (args.driver_date, version))
    with open(args.out, 'w', newline='') as out:
        out.write(text)
    if args.models_out:
        with open(args.models_out, 'w') as out:
            out.write(''.join('%d %s\n' % (code, models[code]) for code in sorted(models)))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
