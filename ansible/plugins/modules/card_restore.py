#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: card_restore
short_description: Restore a backup onto LED controller cards
description:
  - Brings each card to the settings, script and programs of a backup made by
    C(card_backup) (or C(cardctl backup)), sending only what differs, then reads the
    card back and compares. A card that already equals the backup gets no line at all,
    and the task reports C(ok).
  - Runs C(cardctl restore) (one card) or C(cardctl clone) (several) on the managed host.
    The backup must be on the managed host; copy it there first (see the examples).
  - A card that fails, or does not hold what was sent, fails the host with the step it
    reached and what it lacks; the other cards are still worked on.
version_added: "1.0.0"
options:
  src:
    description: The backup file on the managed host.
    type: path
    required: true
  cards:
    description: The cards, as addresses or ranges (C(192.168.1.20-40)).
    type: list
    elements: str
    required: true
  programs:
    description:
      - C(keep) leaves the program slots the backup does not hold; C(replace) deletes them.
    type: str
    default: keep
    choices: [keep, replace]
  with_network:
    description:
      - Also restore the address, addressing, network settings, MAC and name.
      - Refused for several cards, which would all get one address.
      - The task is the confirmation cardctl otherwise asks for when the card's serial is
        not the backup's.
    type: bool
    default: false
extends_documentation_fragment:
  - ledcards.cards.cardctl
notes:
  - Check mode plans every card and sends nothing; C(changed) says which cards would change.
  - Diff mode shows each setting the restore changes, and the script and programs it writes or deletes.
  - Every question cardctl would ask (emptying the script, another card's serial with
    I(with_network)) is answered yes by running the task.
attributes:
  check_mode:
    support: full
  diff_mode:
    support: full
author:
  - CardSetup developers
'''

EXAMPLES = r'''
- name: Put the site's backup on its host
  ansible.builtin.copy:
    src: "backups/{{ inventory_hostname }}/192.168.1.20.snap"
    dest: /var/backups/signs/192.168.1.20.snap
    mode: "0644"

- name: Restore it to the sign it came from
  ledcards.cards.card_restore:
    src: /var/backups/signs/192.168.1.20.snap
    cards: [192.168.1.20]

- name: The same look on every sign of the row, their own slots replaced
  ledcards.cards.card_restore:
    src: /var/backups/signs/192.168.1.20.snap
    cards: [192.168.1.21-29]
    programs: replace
'''

RETURN = r'''
cards:
  description: Each card's result as cardctl reports it.
  returned: always
  type: list
  elements: dict
  contains:
    address:
      description: The card's address.
      type: str
    result:
      description: C(changed), C(unchanged), C(planned) (check mode), C(failed) or C(refused) (nothing sent).
      type: str
    changed:
      description: The settings that change, each with C(from) and C(to).
      type: dict
    script_changed:
      description: Whether the script is written.
      type: bool
    programs_uploaded:
      description: The program slots written.
      type: list
      elements: int
    programs_deleted:
      description: The program slots deleted.
      type: list
      elements: int
    failure:
      description: For a card that did not end as asked, the step, the message and what it does not hold (C(missing)).
      type: dict
changed_cards:
  description: Addresses of the cards that changed (or would change, in check mode).
  returned: always
  type: list
  elements: str
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.ledcards.cards.plugins.module_utils.cardctl import (
    COMMON_ARGS, Cardctl, card_diff, cards_failing, failure_text)


def main():
    arguments = dict(src=dict(type='path', required=True),
                cards=dict(type='list', elements='str', required=True),
                programs=dict(type='str', default='keep', choices=['keep', 'replace']),
                with_network=dict(type='bool', default=False))
    arguments.update(COMMON_ARGS)
    module = AnsibleModule(argument_spec=arguments, supports_check_mode=True)
    p = module.params
    if not os.path.isfile(p['src']):
        module.fail_json(msg='no backup file %s on %s' % (p['src'], os.uname()[1]))
    tool = Cardctl(module)
    # One plain address: restore (which also takes --with-network onto a card
    # with another serial); anything else is a clone, which refuses
    # --with-network for more than one card.
    single = len(p['cards']) == 1 and '-' not in p['cards'][0] and not p['cards'][0].startswith('@')
    command = 'restore' if single else 'clone'
    args = [os.path.abspath(p['src'])] + tool.cards() + ['--programs', p['programs'], '--yes']
    if p['with_network']:
        args.append('--with-network')
    if module.check_mode:
        args.append('--dry-run')
    rc, doc = tool.run(command, args)
    if 'error' in doc:
        tool.refused(command, rc, doc)
    cards = doc.get('cards', [])
    # A dry run plans each card: it would change when a line is planned.
    moved = [c for c in cards if c.get('result') == 'changed' or (c.get('result') == 'planned' and c.get('lines'))]
    result = dict(changed=bool(moved), cards=cards, changed_cards=[c['address'] for c in moved], rc=rc)
    if module._diff:
        result['diff'] = [card_diff(c) for c in moved]
    bad = cards_failing(doc)
    if bad or rc != 0:
        module.fail_json(msg='%d of %d card(s) not restored: %s'
                         % (len(bad), len(cards), '; '.join(failure_text(c) for c in bad) or doc['_stderr'].strip()),
                         **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
