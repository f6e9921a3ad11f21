#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: card_backup
short_description: Back up LED controller cards into a folder on the managed host
description:
  - Saves each card's settings, script and programs in one backup file,
    I(dest)/ADDRESS.snap on the managed host, by C(cardctl backup).
  - To keep the backups on the control node, follow with C(ansible.builtin.fetch) over
    the returned C(files) (see the examples).
  - A card that cannot be read whole, or whose record fails its own checksum, gets no
    backup and fails the host; the other cards are still saved. An earlier backup of
    such a card is left as it was.
  - C(changed) is true when a backup file is new or its content differs from the one it replaces.
version_added: "1.0.0"
options:
  cards:
    description: The cards, as addresses or ranges (C(192.168.1.20-40)).
    type: list
    elements: str
    required: true
  dest:
    description: The folder on the managed host the backups go to; made when missing.
    type: path
    required: true
extends_documentation_fragment:
  - ledcards.cards.cardctl
notes:
  - Check mode reads the cards into a temporary folder and compares with the backups in
    I(dest); nothing is written there and nothing is sent that changes a card.
attributes:
  check_mode:
    support: full
  diff_mode:
    support: none
author:
  - CardSetup developers
'''

EXAMPLES = r'''
- name: Back up the site's signs on the site's host
  ledcards.cards.card_backup:
    cards: "{{ site_cards }}"
    dest: /var/backups/signs
  register: backup

- name: Keep them on the control node, a folder per site
  ansible.builtin.fetch:
    src: "{{ item.file }}"
    dest: "backups/{{ inventory_hostname }}/"
    flat: true
  loop: "{{ backup.files }}"
'''

RETURN = r'''
files:
  description: Each backup made.
  returned: always
  type: list
  elements: dict
  contains:
    address:
      description: The card's address.
      type: str
      sample: 192.168.1.20
    serial:
      description: The card's serial number.
      type: str
      sample: "202308150000000000000001"
    file:
      description: The backup on the managed host.
      type: str
      sample: /var/backups/signs/192.168.1.20.snap
    changed:
      description: Whether the file is new or differs from the one it replaced.
      type: bool
failed_cards:
  description: Each card that got no backup, with cardctl's reason.
  returned: always
  type: dict
  sample: {"192.168.1.21": "192.168.1.21: cannot connect (at read)"}
'''

import filecmp
import os
import shutil
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.ledcards.cards.plugins.module_utils.cardctl import (
    COMMON_ARGS, Cardctl, cards_failing, failure_text)


def main():
    arguments = dict(cards=dict(type='list', elements='str', required=True),
                dest=dict(type='path', required=True))
    arguments.update(COMMON_ARGS)
    module = AnsibleModule(argument_spec=arguments, supports_check_mode=True)
    tool = Cardctl(module)
    dest = os.path.abspath(module.params['dest'])
    if not module.check_mode and not os.path.isdir(dest):
        os.makedirs(dest)
    # Read into a private folder first: a file is replaced only when its
    # content differs, so a run that changes nothing reports ok.
    work = tempfile.mkdtemp(prefix='card_backup.', dir=dest if os.path.isdir(dest) else None)
    try:
        rc, doc = tool.run('backup', tool.cards() + [work])
        if 'error' in doc:
            tool.refused('backup', rc, doc)
        files = []
        for card in doc.get('cards', []):
            if card.get('result') != 'saved':
                continue
            name = os.path.basename(card['file'])
            target = os.path.join(dest, name)
            differs = not (os.path.isfile(target) and filecmp.cmp(card['file'], target, shallow=False))
            if differs and not module.check_mode:
                os.chmod(card['file'], 0o644)
                os.rename(card['file'], target)
            files.append(dict(address=card['address'], serial=card.get('serial'), file=target, changed=differs))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    bad = cards_failing(doc)
    result = dict(changed=any(f['changed'] for f in files), files=files, rc=rc,
                  failed_cards=dict((c['address'], failure_text(c)) for c in bad))
    if bad or rc != 0:
        module.fail_json(msg='%d of %d card(s) got no backup: %s'
                         % (len(bad), len(doc.get('cards', [])), '; '.join(result['failed_cards'].values())), **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
