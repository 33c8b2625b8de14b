// The headless Chromium both browser tests drive: Debian's own, with nothing of its own in the
// background (updates, sync, networking) to slow a test down or make it flaky.
import { chromium } from 'playwright-core';

export function ObreNavegador() {
  return chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync'],
  });
}
