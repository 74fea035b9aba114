"""The applet's MSI, TesZEPDIOConfig.msi, built with msitools' wixl from
package/TesZEPDIOConfig.wxs.

    msi.py --applet TesZEPDIOConfig.cpl --out TesZEPDIOConfig.msi [--arch x86|x64]

The version is the packages' (inf.package_version); the product code follows
from it, so that one version always makes the same product and the next one
replaces it. --arch x64 is for the Wine test only (the wxs says why).
"""

import argparse
import os
import subprocess
import sys
import uuid

import inf

# The namespace of the applet's product codes (any fixed UUID).
PRODUCT_NAMESPACE = uuid.UUID('6b049747-8679-4542-b232-eccd4d2c6519')


def product_code(version, arch):
    return '{%s}' % str(uuid.uuid5(PRODUCT_NAMESPACE, 'TesZEPDIOConfig %s %s' % (version, arch))).upper()


def main(argv):
    parser = argparse.ArgumentParser(description='Builds the applet\'s MSI.')
    parser.add_argument('--applet', required=True)
    parser.add_argument('--out', required=True)
    parser.add_argument('--arch', choices=('x86', 'x64'), default='x86')
    args = parser.parse_args(argv)
    _, version = inf.package_version()
    source = os.path.join(inf.TEMPLATES, 'TesZEPDIOConfig.wxs')
    # wixl takes a source file by a path relative to where it runs.
    folder, name = os.path.split(os.path.abspath(args.applet))
    command = ['wixl', '-a', args.arch, '-D', 'Arch=' + args.arch, '-D', 'Version=' + version,
               '-D', 'ProductCode=' + product_code(version, args.arch), '-D', 'Applet=' + name,
               '-o', os.path.abspath(args.out), source]
    return subprocess.run(command, cwd=folder).returncode


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
