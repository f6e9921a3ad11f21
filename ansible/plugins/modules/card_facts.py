#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: card_facts
short_description: Find and read LED controller cards
description:
  - Reads the cards given by address, or finds them by a broadcast search on the
    managed host's segment first, and returns each card's identity and every setting
    by name as facts.
  - Runs C(cardctl search) and C(cardctl show) on the managed host; it only reads.
  - A card that cannot be read fails the host (the cards that could be read are still
    in the facts), unless I(fail_on_unreadable=false).
version_added: "1.0.0"
options:
  cards:
    description:
      - The cards to read, as addresses or ranges (C(192.168.1.20-40)).
      - Not together with I(search).
    type: list
    elements: str
  search:
    description:
      - Find the cards by a broadcast search from every address of the managed host's
        network adapters (or from I(local) only) and read each card found.
    type: bool
    default: false
  local:
    description: The managed host's own address to search from (implies I(search)).
    type: str
  fail_on_unreadable:
    description: Whether a card that cannot be read fails the host.
    type: bool
    default: true
extends_documentation_fragment:
  - ledcards.cards.cardctl
attributes:
  check_mode:
    support: full
  diff_mode:
    support: none
  facts:
    support: full
author:
  - CardSetup developers
'''

EXAMPLES = r'''
- name: Read the signs of this site
  ledcards.cards.card_facts:
    cards: "{{ site_cards }}"

- name: Find every card on the segment and read it
  ledcards.cards.card_facts:
    search: true

- name: Signs that are too bright
  ansible.builtin.debug:
    msg: "{{ item.key }} at {{ item.value.settings.brightness }}"
  loop: "{{ ansible_facts.led_cards | dict2items }}"
  when: item.value.settings.brightness > 20
'''

RETURN = r'''
ansible_facts:
  description: The cards read.
  returned: always
  type: complex
  contains:
    led_cards:
      description:
        - Each card read, by address, with C(address), C(serial), C(mac), C(firmware)
          and C(settings) (every setting by the name C(cardctl show) prints, typed).
        - Cards found by a search also carry C(width), C(height) and C(auto_ip) from the search.
      type: dict
      sample: {"192.168.1.20": {"address": "192.168.1.20", "serial": "202308150000000000000001",
               "mac": "02-4B-58-10-00-00", "firmware": "39.2.1",
               "settings": {"brightness": 15, "scan": "1/4"}}}
unreadable:
  description: Each card that could not be read, with cardctl's reason.
  returned: always
  type: dict
  sample: {"192.168.1.21": "192.168.1.21: cannot connect (at read)"}
searched_from:
  description: The managed host's addresses the search went out from (search only).
  returned: when searched
  type: list
  elements: str
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.ledcards.cards.plugins.module_utils.cardctl import (
    COMMON_ARGS, Cardctl, failure_text)

IDENTITY = ('address', 'serial', 'mac', 'firmware')


def main():
    arguments = dict(cards=dict(type='list', elements='str'),
                search=dict(type='bool', default=False),
                local=dict(type='str'),
                fail_on_unreadable=dict(type='bool', default=True))
    arguments.update(COMMON_ARGS)
    module = AnsibleModule(argument_spec=arguments, supports_check_mode=True,
                           mutually_exclusive=[('cards', 'search'), ('cards', 'local')],
                           required_one_of=[('cards', 'search', 'local')])
    tool = Cardctl(module)
    result = dict(changed=False, unreadable={})
    found = {}
    addresses = tool.cards() if module.params['cards'] else None
    if not addresses:
        args = ['--local', module.params['local']] if module.params['local'] else []
        rc, doc = tool.run('search', args)
        if not doc.get('ok'):
            module.fail_json(msg='the search found no way out: %s' % (doc.get('error') or doc['_stderr'].strip()), rc=rc)
        result['searched_from'] = doc.get('searched_from', [])
        for card in doc.get('cards', []):
            found[card['address']] = card
        addresses = list(found)
    cards = {}
    if addresses:
        rc, doc = tool.run('show', addresses)
        if 'error' in doc:
            tool.refused('show', rc, doc)
        for card in doc.get('cards', []):
            address = card.get('address')
            if card.get('result') != 'read':
                result['unreadable'][address] = failure_text(card)
                continue
            fields = card.get('fields', {})
            facts = dict(found.get(address, {}))
            facts.update((k, fields.get(k)) for k in IDENTITY)
            facts['address'] = address
            facts['settings'] = fields
            cards[address] = facts
    result['ansible_facts'] = dict(led_cards=cards)
    if result['unreadable'] and module.params['fail_on_unreadable']:
        module.fail_json(msg='%d card(s) could not be read: %s'
                         % (len(result['unreadable']), '; '.join(result['unreadable'].values())), **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
