// The standard query (A2S) as hosts see it: gamedig, a query client nobody
// here wrote, asks the built server, and what it reports must agree with the
// server's own `status` console command.
//
//   node tests/query/gamedig_test.mjs BUILD_DIR
//
// The server runs on a port the system picks, with three bots and one player
// of brastok_client's load command (bots come only while a human plays). The
// script stops by itself within a minute, whatever happens.
import { spawn, execFileSync } from 'node:child_process'
import { createInterface } from 'node:readline'
import path from 'node:path'
import { GameDig } from 'gamedig'

const BUILD = path.resolve(process.argv[2] || 'build')
const SERVER = path.join(BUILD, 'brastok_server')
const CLIENT = path.join(BUILD, 'brastok_client')
const NAME = 'Brastok Ärena (gamedig)' // UTF-8 on the command line and on the wire
const BOTS = 3

let passed = 0
let failed = 0
function check (what, got, want) {
  const ok = JSON.stringify(got) === JSON.stringify(want)
  if (ok) {
    passed++
  } else {
    failed++
    console.log(`FAIL ${what}: got ${JSON.stringify(got)}, want ${JSON.stringify(want)}`)
  }
}

const children = []
function stopAll () {
  for (const c of children) {
    if (c.exitCode === null && c.signalCode === null) c.kill('SIGKILL')
  }
}
const deadline = setTimeout(() => {
  console.log('FAIL the test ran out of time')
  stopAll()
  process.exit(1)
}, 60000)

// The server: its console lines come one by one to whoever waits for one.
const server = spawn(SERVER, ['-port', '0', '-bots', String(BOTS), '-name', NAME,
  '-maxplayers', '8', '-score', '15'], { stdio: ['pipe', 'pipe', 'inherit'] })
children.push(server)
const exited = new Promise((resolve) => server.on('exit', resolve))
const lines = []
let wake = null
createInterface({ input: server.stdout }).on('line', (l) => {
  lines.push(l)
  if (wake) wake()
})
async function nextLine () {
  while (lines.length === 0) {
    if (server.exitCode !== null) throw new Error('the server ended')
    await new Promise((resolve) => { wake = resolve; setTimeout(resolve, 200) })
  }
  return lines.shift()
}

// The console's `status`: its slot lines and its map line. Event-log lines
// printed meanwhile are passed over.
const SLOT = /^slot (\d+) "(.*)" team (\d+) (\S+) score (\d+) ping (\d+) (.+)$/
const MAP = /^map "(.*)" entry \d+, tick \d+, scoreboard \d+, players (\d+)\/(\d+), clients (\d+)\/\d+, scorelimit (\d+), bots (\d+), teamplay (\w+)$/
async function status () {
  lines.length = 0
  server.stdin.write('status\n')
  const slots = []
  for (;;) {
    const l = await nextLine()
    let m = SLOT.exec(l)
    if (m) slots.push({ name: m[2], bot: m[7] === 'bot' })
    m = MAP.exec(l)
    if (m) {
      return {
        slots,
        map: m[1],
        maxplayers: Number(m[3]),
        scorelimit: m[5],
        bots: m[6],
        teamplay: m[7] === 'yes' ? '1' : '0'
      }
    }
  }
}

try {
  let port = 0
  while (!port) {
    const m = /^UDP initialized! UDP port: (\d+)$/.exec(await nextLine())
    if (m) port = Number(m[1])
  }
  const version = execFileSync(SERVER, ['--version']).toString()
  const protocol = Number(/protocol version (\d+)/.exec(version)[1])

  const player = spawn(CLIENT, ['load', '-n', '1', '-t', '55', '--name', 'Gamer',
    `127.0.0.1:${port}`], { stdio: 'ignore' })
  children.push(player)
  let before = await status()
  while (before.slots.length < 1 + BOTS) {
    await new Promise((resolve) => setTimeout(resolve, 200))
    before = await status()
  }

  const r = await GameDig.query({
    type: 'protocol-valve',
    host: '127.0.0.1',
    port,
    givenPortOnly: true,
    requestRules: true,
    requestPlayersRequired: true,
    requestRulesRequired: true,
    socketTimeout: 3000,
    attemptTimeout: 15000
  })
  const after = await status()
  check('the slots did not change during the query', after.slots, before.slots)

  const names = (list) => list.map((p) => p.name).sort()
  const humans = after.slots.filter((s) => !s.bot)
  check('name', r.name, NAME)
  check('map', r.map, after.map)
  check('players (humans)', r.numplayers, humans.length)
  check('bots', r.raw.numbots, after.slots.length - humans.length)
  check('maximum players', r.maxplayers, after.maxplayers)
  check('every name listed', names([...r.players, ...r.bots]), names(after.slots))
  check('dedicated', r.raw.listentype, 'd')
  check('no password', r.password, false)
  check('protocol', r.raw.protocol, protocol)
  check('the game port', r.connect, `127.0.0.1:${port}`)
  check('rules', r.raw.rules, {
    scorelimit: after.scorelimit,
    maxplayers: String(after.maxplayers),
    teamplay: after.teamplay,
    bots: after.bots,
    protocol: String(protocol)
  })

  player.kill('SIGTERM')
  server.stdin.write('quit\n')
  const code = await exited
  check('the server stops cleanly', code, 0)
} catch (e) {
  failed++
  console.log(`FAIL ${e.stack || e}`)
}
stopAll()
clearTimeout(deadline)
console.log(`gamedig: ${passed} passed, ${failed} failed`)
process.exit(failed === 0 ? 0 : 1)
